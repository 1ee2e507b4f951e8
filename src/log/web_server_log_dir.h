// Where the local web server (the W3SVC service) keeps its log files, so
// that a LogFile can be placed beside them.
#pragma once

#include <string>

/// The directory from the service's "LogFileDirectory" parameter, with a
/// leading "%SystemRoot%" expanded; the system directory's "LogFiles" when
/// the parameter is missing; empty when the service's key cannot be opened.
/// No separator is added or removed at the end.
std::string GetWebServerLogDir();
