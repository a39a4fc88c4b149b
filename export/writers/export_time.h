// Dates written into export headers, independent of the process's locale.
#pragma once

#include <ctime>
#include <string>

// "Www Mmm dd hh:mm:ss yyyy" followed by a newline, English names, the day zero-padded
// (Fri Dec 01 08:05:09 2026); the fields out of range are clamped, so the text always has
// its 25 characters.
std::string FormatCreationDate(const std::tm& time);
// FormatCreationDate of the current local time; "\n" alone when the clock or the time zone
// cannot say.
std::string CurrentCreationDate();

// "%Y-%m-%dT%H:%M:%S" of the current local time into `text`; false, `text` untouched, when
// the time is not available.
bool FormatIsoDateTime(std::string& text);
