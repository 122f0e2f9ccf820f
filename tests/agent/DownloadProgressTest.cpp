// A download's body on its way to the file, with its progress told: after each block, and at the chunk
// ends where marks fall, where a stop keeps whole chunks.
#include "agent/DownloadProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tamsel::agent {
namespace {

constexpr uint64_t CHUNK = web::BODY_CHUNK_SIZE;

// The file: keeps the size of every write.
class Writes final : public web::BodyConsumer {
public:
    bool StartReply(const web::ReplyHead&) override { return true; }
    bool Write(const char*, size_t size) override {
        sizes.push_back(size);
        return true;
    }
    std::vector<size_t> sizes;
};

// Asks for marks at the counts given and records what it is told: 'm' at a mark, 'r' after a block.
class Told final : public DownloadProgress {
public:
    explicit Told(std::vector<uint64_t> marks) : m_marks(std::move(marks)) {}

    uint64_t NextMark(uint64_t received, int64_t) const noexcept override {
        for (const uint64_t mark : m_marks) {
            if (mark > received) return mark;
        }
        return NO_MARK;
    }
    bool AtMark(uint64_t received, int64_t total) noexcept override { return Tell('m', received, total); }
    bool Reached(uint64_t received, int64_t total) noexcept override { return Tell('r', received, total); }

    std::vector<std::pair<char, uint64_t>> calls;
    char stopAt = 0;             // the kind of call that answers false at stopAtCount or past it
    uint64_t stopAtCount = 0;
    int64_t total = 0;

private:
    bool Tell(char kind, uint64_t received, int64_t whole) noexcept {
        calls.emplace_back(kind, received);
        total = whole;
        return !(kind == stopAt && received >= stopAtCount);
    }
    std::vector<uint64_t> m_marks;
};

// A reply whose body begins at start bytes of a file of length bytes (0: unknown).
web::ReplyHead Head(uint64_t start, uint64_t length) {
    web::ReplyHead head;
    head.status = 200;
    head.bodyStart = start;
    head.fileLength = length;
    return head;
}

const std::string BLOCK(8 * CHUNK, 'x');

TEST(ProgressBody, WithoutMarksEachBlockGoesWholeAndIsToldInBytesOfTheFile) {
    Writes file;
    Told told({});
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(1000, 0)));
    ASSERT_TRUE(body.Write(BLOCK.data(), BLOCK.size()));
    ASSERT_TRUE(body.Write(BLOCK.data(), 100));  // the body's short last piece
    EXPECT_EQ(file.sizes, (std::vector<size_t>{BLOCK.size(), 100})) << "one write per block";
    const std::vector<std::pair<char, uint64_t>> expected = {{'r', 1000 + BLOCK.size()}, {'r', 1100 + BLOCK.size()}};
    EXPECT_EQ(told.calls, expected) << "the resumed part counts in what is told";
    EXPECT_EQ(told.total, -1) << "a length of 0 is none known";
    EXPECT_EQ(reach.received, 1100 + BLOCK.size());
    EXPECT_EQ(reach.total, -1);
}

TEST(ProgressBody, AMarkIsToldAtTheFirstChunkEndAtOrPastItAndTheBlockStillGoesInOneWrite) {
    Writes file;
    // Within the first chunk, exactly at the third chunk's end, and inside the body's short last piece.
    Told told({10, 3 * CHUNK, 8 * CHUNK + 50});
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(0, 8 * CHUNK + 100)));
    ASSERT_TRUE(body.Write(BLOCK.data(), BLOCK.size()));
    ASSERT_TRUE(body.Write(BLOCK.data(), 100));
    const std::vector<std::pair<char, uint64_t>> expected = {
        {'m', CHUNK}, {'m', 3 * CHUNK}, {'r', 8 * CHUNK}, {'m', 8 * CHUNK + 100}, {'r', 8 * CHUNK + 100}};
    EXPECT_EQ(told.calls, expected);
    EXPECT_EQ(told.total, int64_t(8 * CHUNK + 100));
    EXPECT_EQ(file.sizes, (std::vector<size_t>{BLOCK.size(), 100})) << "marks split no write";
}

TEST(ProgressBody, AStopAtAMarkKeepsTheBlockUpToItsChunkAndIsToldOnce) {
    Writes file;
    Told told({2 * CHUNK + 1, 6 * CHUNK});
    told.stopAt = 'm';
    told.stopAtCount = 3 * CHUNK;
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(0, 0)));
    EXPECT_FALSE(body.Write(BLOCK.data(), BLOCK.size()));
    EXPECT_TRUE(body.Cancelled()) << "a stop, not a failure to take the bytes";
    EXPECT_EQ(file.sizes, (std::vector<size_t>{3 * CHUNK})) << "the chunk that asked to stop is kept, no more";
    const std::vector<std::pair<char, uint64_t>> expected = {{'m', 3 * CHUNK}, {'r', 3 * CHUNK}};
    EXPECT_EQ(told.calls, expected) << "the block cut short is still told, and no mark past the stop";
    EXPECT_EQ(reach.received, 3 * CHUNK);
}

TEST(ProgressBody, AStopAfterABlockKeepsTheBlock) {
    Writes file;
    Told told({});
    told.stopAt = 'r';
    Reach reach;
    ProgressBody body(file, &told, reach);
    ASSERT_TRUE(body.StartReply(Head(0, 0)));
    EXPECT_FALSE(body.Write(BLOCK.data(), BLOCK.size()));
    EXPECT_TRUE(body.Cancelled());
    EXPECT_EQ(file.sizes, (std::vector<size_t>{BLOCK.size()}));
}

TEST(ProgressBody, WithNobodyToTellTheReachIsStillKept) {
    Writes file;
    Reach reach;
    ProgressBody body(file, nullptr, reach);
    ASSERT_TRUE(body.StartReply(Head(5, 5 + BLOCK.size())));
    ASSERT_TRUE(body.Write(BLOCK.data(), BLOCK.size()));
    EXPECT_FALSE(body.Cancelled());
    EXPECT_EQ(reach.received, 5 + BLOCK.size());
    EXPECT_EQ(reach.total, int64_t(5 + BLOCK.size()));
}

}  // namespace
}  // namespace tamsel::agent
