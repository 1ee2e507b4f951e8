// One delivery of a composed message, through the SMTP server of the
// settings or through Microsoft Graph, with the logon and the tokens the
// settings ask for and the protocol trace when one is kept.
#pragma once

#include <optional>
#include <string>

#include "app/postrine.h"
#include "mailclient/mime/cemail.h"
#include "mailclient/outcome.h"

/// Sends `email`, asking for the delivery notices of `dsn` (none when
/// empty) under the identifier `envid`: nothing when the server took it,
/// else the failure in a sentence that quotes the server.
std::optional<mailclient::Failure> Deliver(const mailclient::CEmail& email, Postrine& app, const std::string& dsn,
                                           const std::string& envid);
