// The mail-client library: message composition (CEmail) and the SMTP
// client (CSmtp). This header holds the library's set-up.
#pragma once

namespace mailclient {

/// Prepares the library for use (the network stack on Windows). Called once
/// at start-up, before any message is sent; true when the library is ready.
bool Setup();

}  // namespace mailclient
