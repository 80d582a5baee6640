// How vekpp words the failures of the system calls it makes: a file named
// once, then why (the system's own text); a listening socket with its
// address, port and why; and the standard tags' limits named by vekpp's
// flags.
#pragma once

#include <string>

/// "Path: why" when Path cannot be reached (stat fails: missing, a
/// directory on the way not searchable, ...); "" when it can. Used on the
/// files named on the command line before they are opened, so that the
/// message names the file once and says why, as other tools do.
std::string FileProblem(const std::string& Path);

/// "Path: why" for a failure with the error number Errno; Path quoted as
/// VekQuoteName does.
std::string FileMessage(const std::string& Path, int Errno);

/// "cannot listen on Address port Port: why" for a failed bind or listen
/// whose error number is Errno (e.g. "Address already in use").
std::string ListenMessage(const std::string& Address, int Port, int Errno);

/// Message with the options of the standard tags it names as a limit
/// ("(the limit MaxSteps)") named by the flags that set them
/// ("(the limit --max-steps)").
std::string WithFlags(std::string Message);
