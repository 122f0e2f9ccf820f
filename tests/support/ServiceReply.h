// Replies of the download service as the loopback server is scripted to send them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tamsel::test {

using ReplyFields = std::vector<std::pair<std::string, std::string>>;

// A comment, then a container with one field element per pair, in order. Values go in as given, so a
// test can put entities, bytes above 127 or a zero byte into a reply.
std::string ServiceReply(const ReplyFields& fields);

}  // namespace tamsel::test
