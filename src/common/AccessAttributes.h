#pragma once
// Copying who may use a file from one open file to another: the POSIX access ACL and the user's
// extended attributes (user.*), as the raw attribute values.

// Gives To the access ACL and user attributes From has. To loses an access ACL From lacks (one
// its folder's default ACL gave it), so that nobody gains access. Permission bits are not set
// here. False when anything could not be read or written.
bool CopyAccessAttributes(int From, int To);
