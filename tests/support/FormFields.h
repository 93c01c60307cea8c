#pragma once
// What a loopback service reads from a form it is sent.
#include <map>
#include <string>

// An application/x-www-form-urlencoded body's fields, decoded ('+' is a blank).
std::map<std::string, std::string> FormFields(const std::string& Body);
