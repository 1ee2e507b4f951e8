#include <winsock2.h>

#include "mailclient/net/setup.h"

namespace mailclient {

bool Setup() {
  WSADATA data;
  return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

}  // namespace mailclient
