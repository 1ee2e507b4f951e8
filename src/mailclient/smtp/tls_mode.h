// How the SMTP connection is secured, as the "TLS" setting names it.
#pragma once

namespace mailclient {

/// STARTTLS when offered (auto), STARTTLS or nothing (starttls), TLS from
/// the first byte (smtps), or none (off).
enum class TlsMode { kAuto, kStartTls, kSmtps, kOff };

}  // namespace mailclient
