// A name service that does not answer in time, and server names as users
// write them.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "mailclient/net/net.h"
#include "mailclient/net/net_platform.h"

using namespace mailclient;

namespace {

std::vector<Endpoint> SlowResolver(const std::string&, int, std::string&) {
  std::this_thread::sleep_for(std::chrono::seconds(3));
  return {Endpoint{}};
}

std::vector<Endpoint> FailingResolver(const std::string& host, int, std::string& error) {
  error = "Name or service not known: " + host;
  return {};
}

TEST(NameResolution, EndsAtTheDeadlineWhateverTheNameServiceDoes) {
  const auto started = std::chrono::steady_clock::now();
  std::string error;
  EXPECT_TRUE(detail::ResolveWithin(SlowResolver, "mail.example.com", 25, Deadline(200), error).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(error, "the name service gave no answer within 1 second");

  EXPECT_TRUE(detail::ResolveWithin(FailingResolver, "nowhere.invalid", 25, Deadline(5000), error).empty());
  EXPECT_EQ(error, "Name or service not known: nowhere.invalid") << "the resolver's own reason";
}

TEST(BareHost, TakesTheBracketsOffAnIpv6LiteralOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"[::1]", "::1"}, {"[2001:db8::25]", "2001:db8::25"}, {"::1", "::1"}, {"mail.example.com", "mail.example.com"},
      {"[mail]", "[mail]"}, {"[]", "[]"}};
  for (const auto& [server, host] : cases) EXPECT_EQ(BareHost(server), host) << server;
}

}  // namespace
