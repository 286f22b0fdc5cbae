// Errors of the command-line host and the exit codes they map to.
#pragma once

#include <stdexcept>
#include <string>

namespace lustra::cli {

// Exit codes of every command.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;       // a render or file operation failed
constexpr int kExitUsage = 2;         // bad command line
constexpr int kExitInterrupted = 130; // stopped by Ctrl-C, output closed

// A command line that cannot be carried out as written (exit code 2).
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A command line that would destroy one of its own files (an output that is
// an input): exit code 2, printed as one line without the usage hint.
class Refusal : public UsageError {
  public:
    using UsageError::UsageError;
};

// A failure while doing what the command line asked (exit code 1): missing
// or unreadable files, media that cannot be decoded or written, a render
// that the module refused.
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

} // namespace lustra::cli
