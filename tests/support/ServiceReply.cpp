// Replies of the download service as the loopback server is scripted to send them.
#include "support/ServiceReply.h"

namespace tamsel::test {

std::string ServiceReply(const ReplyFields& fields) {
    std::string body = "<!-- download service -->\r\n<response>\r\n";
    for (const auto& [name, value] : fields) {
        body += "  <field name=\"" + name + "\" value=\"" + value + "\"/>\r\n";
    }
    return body + "</response>\r\n";
}

}  // namespace tamsel::test
