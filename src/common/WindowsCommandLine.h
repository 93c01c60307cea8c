#pragma once
// Command lines in the Windows form: one string that the started program splits into its
// arguments itself, with double quotes and backslashes as the only escapes.
#include <string>
#include <string_view>
#include <vector>

// Splits a command line the way the Microsoft C runtime does. The first element is the program
// name, which ends at the first blank outside double quotes and takes no backslash escapes. The
// arguments that follow are separated by blanks and tabs; inside them 2n backslashes before a
// double quote give n backslashes and the quote opens or closes a quoted part, 2n+1 give n
// backslashes and a literal quote, two double quotes inside a quoted part give one literal quote
// (the part stays quoted), and other backslashes are taken literally. An empty or all-blank line
// gives no elements.
std::vector<std::string> SplitCommandLine(std::string_view CommandLine);

// Value escaped to stand between two double quotes of a command line: a quote becomes \", and
// backslashes are doubled where they precede a quote, including the closing one.
std::string EscapeInsideQuotes(std::string_view Value);

// Value unchanged when it needs no quoting; otherwise wrapped in double quotes and escaped so that
// SplitCommandLine returns it as exactly one argument.
std::string QuoteArgument(std::string_view Value);
