#pragma once
// The wait a server asks for in its Retry-After field.
#include <chrono>
#include <ctime>
#include <optional>
#include <string_view>

// Longer waits count as this one: no file waits even a part of it, and sums of it with the
// clock's time cannot overflow.
constexpr std::chrono::seconds LongestRetryAfter{24 * 60 * 60};

// Value is a number of seconds ("120") or an HTTP date ("Wed, 21 Oct 2015 07:28:00 GMT"), taken
// relative to Now; a date past is no wait. std::nullopt when Value is neither.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view Value, std::time_t Now);
