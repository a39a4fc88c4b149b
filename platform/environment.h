// What the process environment says: environment variables and the number of
// processors.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of the environment variable `name`, or nothing when it is not set
// (a variable set to the empty string gives an empty string). name must not be null.
std::optional<std::string> GetEnvironmentVariable(const char* name);

// Number of processors currently online; at least 1.
int OnlineProcessorCount();

}  // namespace platform
