// Tests of the two POST bodies, byte for byte, and of reading a file part.
#include "web/RequestBody.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace tamsel::web {
namespace {

using namespace std::string_literals;

const std::string kBoundary = "---------------------------1A2B03C47FFF";
const std::string kDelimiter = "-----------------------------1A2B03C47FFF\r\n";
const std::string kClosing = "-----------------------------1A2B03C47FFF--\r\n";

HttpRequest RequestWith(std::initializer_list<FormField> fields) {
    HttpRequest request;
    request.boundary = kBoundary;
    request.formFields = fields;
    return request;
}

std::string FormPart(const std::string& name, const std::string& value) {
    return kDelimiter + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

// A file in the test's working directory, removed again at scope exit.
class TempFile {
public:
    TempFile(const std::string& name, const std::string& content) : m_path(name) {
        std::ofstream(m_path, std::ios::binary).write(content.data(), content.size());
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

TEST(RequestBody, UrlEncodedJoinsPairsVerbatim) {
    const struct {
        std::initializer_list<FormField> fields;
        const char* body;
    } cases[] = {
        {{}, ""},
        {{{"a", "1"}}, "a=1"},
        {{{"a", "1"}, {"b", "x y"}}, "a=1&b=x y"},
        {{{"", "v"}, {"n", ""}, {"", ""}}, "=v&n=&="},
        {{{"a", "1&b=2"}, {"c=d", "%20+\xE9"}}, "a=1&b=2&c=d=%20+\xE9"},
    };
    for (const auto& c : cases) {
        HttpRequest request = RequestWith(c.fields);
        request.fileFields.push_back({"f", "no-such-file", "text/plain"});  // ignored
        EXPECT_EQ(BuildUrlEncodedBody(request), c.body);
    }
}

TEST(RequestBody, MultipartOneFieldIsFiveLines) {
    HttpRequest request;
    request.AddFormField("a", "1");
    const std::optional<std::string> body = BuildMultipartBody(request);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->size(), 135u);
    EXPECT_EQ(*body, "--" + request.boundary + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--" +
                         request.boundary + "--\r\n");
}

TEST(RequestBody, MultipartWithoutFieldsIsTheClosingLineAlone) {
    HttpRequest request;
    const std::optional<std::string> body = BuildMultipartBody(request);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->size(), 45u);
    EXPECT_EQ(*body, "--" + request.boundary + "--\r\n");
}

TEST(RequestBody, MultipartFormPartsVerbatimAndInOrder) {
    const HttpRequest request =
        RequestWith({{"a", "1"}, {"a", "2"}, {"crlf", "x\r\ny\r\n"}, {"q\"", "--" + kBoundary}, {"", ""}});
    const std::string expected = kDelimiter +
                                 "Content-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n" + kDelimiter +
                                 "Content-Disposition: form-data; name=\"a\"\r\n\r\n2\r\n" + kDelimiter +
                                 "Content-Disposition: form-data; name=\"crlf\"\r\n\r\nx\r\ny\r\n\r\n" +
                                 kDelimiter + "Content-Disposition: form-data; name=\"q\"\"\r\n\r\n--" +
                                 kBoundary + "\r\n" + kDelimiter +
                                 "Content-Disposition: form-data; name=\"\"\r\n\r\n\r\n" + kClosing;
    EXPECT_EQ(BuildMultipartBody(request), expected);
}

TEST(RequestBody, MultipartFilePartsFollowAllFormParts) {
    const TempFile binary("RequestBodyTest-binary.bin", "A\0B\r\n\0\0Z"s);
    const TempFile empty("RequestBodyTest-empty.txt", "");
    HttpRequest request = RequestWith({{"first", "1"}});
    request.fileFields.push_back({"upload", binary.path(), "application/octet-stream"});
    request.AddFormField("late", "2");
    request.fileFields.push_back({"none", empty.path(), "text/plain"});

    const std::string expected =
        FormPart("first", "1") + FormPart("late", "2") + kDelimiter +
        "Content-Disposition: form-data; name=\"upload\"; filename=\"RequestBodyTest-binary.bin\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\nA\0B\r\n\0\0Z\r\n"s +
        kDelimiter +
        "Content-Disposition: form-data; name=\"none\"; filename=\"RequestBodyTest-empty.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\n\r\n" +
        kClosing;
    EXPECT_EQ(BuildMultipartBody(request), expected);
}

TEST(RequestBody, MultipartRefusedWhenAFileCannotBeRead) {
    const TempFile readable("RequestBodyTest-readable.txt", "ok");
    HttpRequest request = RequestWith({{"a", "1"}});
    request.fileFields.push_back({"good", readable.path(), "text/plain"});
    request.fileFields.push_back({"bad", "RequestBodyTest-missing.txt", "text/plain"});
    EXPECT_FALSE(BuildMultipartBody(request));
}

TEST(RequestBody, ReadFileBytesKeepsEveryByte) {
    std::string content;
    for (int i = 0; i < 3 * 256; ++i) content += static_cast<char>(i);
    const TempFile file("RequestBodyTest-bytes.bin", content);
    std::string bytes = "stale";
    ASSERT_TRUE(ReadFileBytes(file.path(), bytes));
    EXPECT_EQ(bytes, content);
}

TEST(RequestBody, ReadFileBytesFailsCleanly) {
    const char* const paths[] = {"RequestBodyTest-missing.txt", ".", ""};
    for (const char* path : paths) {
        std::string bytes = "stale";
        EXPECT_FALSE(ReadFileBytes(path, bytes)) << path;
        EXPECT_EQ(bytes, "") << path;
    }
}

}  // namespace
}  // namespace tamsel::web
