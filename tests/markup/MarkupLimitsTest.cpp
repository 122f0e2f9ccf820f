// What a hostile or concurrent caller can't do: overflow the stack, grow a tree without bound, or tear
// the shared failure record.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "markup/MarkupDump.h"
#include "markup/ReplyField.h"

namespace tamsel::markup {
namespace {

using test::LocalOptions;

std::string Nested(int levels, const char* innermost = "") {
    std::string text;
    text.reserve(static_cast<size_t>(levels) * 3 + 16);
    for (int i = 0; i < levels; ++i) text += "<a>";
    return text + innermost;
}

int Depth(const MarkupElement& root) {
    int depth = 1;
    for (const MarkupElement* e = &root; e->ChildCount() > 0; e = e->ChildAt(0)) ++depth;
    return depth;
}

TEST(MarkupDepth, AcceptsTheBoundAndFailsOneLevelMoreWithoutARecord) {
    struct Case {
        std::string text;
        bool parses;
        int depth;
    };
    const Case cases[] = {
        {Nested(MAX_MARKUP_DEPTH), true, MAX_MARKUP_DEPTH},
        {Nested(MAX_MARKUP_DEPTH - 1, "<b/>"), true, MAX_MARKUP_DEPTH},
        {Nested(MAX_MARKUP_DEPTH - 1, "x</a></a>tail<b/>"), true, MAX_MARKUP_DEPTH - 1},
        {Nested(MAX_MARKUP_DEPTH + 1), false, MAX_MARKUP_DEPTH},
        {Nested(MAX_MARKUP_DEPTH, "<b/>"), false, MAX_MARKUP_DEPTH},
    };
    for (const Case& c : cases) {
        LocalOptions options;
        MarkupElement root;
        EXPECT_EQ(root.Parse(c.text.c_str(), options, &options.error) != nullptr, c.parses) << c.text.size();
        EXPECT_EQ(Depth(root), c.depth) << c.text.size();
        EXPECT_FALSE(options.error.IsSet());
    }
}

// A million levels, a few MiB of text: fails quickly, on any stack, and the reply lookup gives empty.
struct DeepRun {
    std::string text = Nested(1000000, "<f name=\"a\" value=\"1\"/>");
    const char* parsed = "not run";
    std::string field = "not run";
    uintptr_t stackLow = 0;  // the lowest address of the running thread's stack, when known
    size_t stackLeft = 0;    // the stack that was left below the run, when known

    __attribute__((noinline)) void operator()() {  // its frame must lie below any padding
        const char marker = 0;
        if (stackLow != 0) stackLeft = reinterpret_cast<uintptr_t>(&marker) - stackLow;
        LocalOptions options;
        MarkupElement root;
        parsed = root.Parse(text.c_str(), options, &options.error);
        field = GetReplyField(text, "a");
    }
};

TEST(MarkupDepth, AMillionLevelsFailOnTheCallersThread) {
    DeepRun run;
    run();
    EXPECT_EQ(run.parsed, nullptr);
    EXPECT_EQ(run.field, "");
}

constexpr size_t kSmallStack = 64 * 1024;

#ifdef _WIN32
// Wine gives every thread at least 1 MiB, so the thread's own stack is used up first down to
// kSmallStack, and the run happens below that.
__attribute__((noinline)) void RunBelow(DeepRun& run, size_t padding) {
    volatile char* pad = static_cast<volatile char*>(__builtin_alloca(padding));
    pad[0] = 0;
    run();
    pad[0] = 1;
}

DWORD WINAPI RunDeep(void* argument) {
    DeepRun& run = *static_cast<DeepRun*>(argument);
    using Limits = void(WINAPI*)(PULONG_PTR, PULONG_PTR);
    const auto limits = reinterpret_cast<Limits>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetCurrentThreadStackLimits")));
    if (limits == nullptr) return 1;
    ULONG_PTR low = 0, high = 0;
    limits(&low, &high);
    run.stackLow = low;
    const char marker = 0;
    const size_t left = reinterpret_cast<uintptr_t>(&marker) - low;
    RunBelow(run, left > kSmallStack ? left - kSmallStack : 0);
    return 0;
}

bool RunOnSmallStack(DeepRun& run) {
    HANDLE thread = CreateThread(nullptr, 0, RunDeep, &run, 0, nullptr);
    if (thread == nullptr) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
}
#else
void* RunDeep(void* argument) {
    DeepRun& run = *static_cast<DeepRun*>(argument);
    pthread_attr_t attributes;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstack(&attributes, &base, &size);
        pthread_attr_destroy(&attributes);
        run.stackLow = reinterpret_cast<uintptr_t>(base);
    }
    run();
    return nullptr;
}

bool RunOnSmallStack(DeepRun& run) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kSmallStack);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, RunDeep, &run) == 0;
    pthread_attr_destroy(&attributes);
    if (started) pthread_join(thread, nullptr);
    return started;
}
#endif

TEST(MarkupDepth, AMillionLevelsFailWithOnly64KiBOfStackLeft) {
    DeepRun run;
    ASSERT_TRUE(RunOnSmallStack(run));
    ASSERT_GT(run.stackLeft, 0u) << "the run's stack is unknown";
    EXPECT_LE(run.stackLeft, kSmallStack) << "the stack was not small, so this proves nothing";
    EXPECT_EQ(run.parsed, nullptr);
    EXPECT_EQ(run.field, "");
}

// Each thread fails in its own way on its own text, all with the process-wide options and each with a
// record of its own: every record must be exactly its own thread's failure.
TEST(MarkupError, ConcurrentParsesRecordOnlyTheirOwnFailure) {
    const char* shapes[] = {"<t%d/ >", "<t%d>x</t%d", "<t%d>x</u%d>", "<t%d b>"};
    const int threads = 8;
    std::vector<std::string> texts;
    for (int i = 0; i < threads; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, shapes[i % 4], i, i);
        texts.push_back(text);
    }
    // The record each text gives on its own, found with a private record.
    std::vector<std::pair<const char*, std::string>> expected;
    for (const std::string& text : texts) {
        LocalOptions alone;
        MarkupElement root;
        root.Parse(text.c_str(), alone, &alone.error);
        ASSERT_TRUE(alone.error.IsSet()) << text;
        expected.emplace_back(alone.error.Position(), alone.error.Message());
    }
    for (int round = 0; round < 50; ++round) {
        std::vector<MarkupError> records(static_cast<size_t>(threads));
        std::atomic<bool> go{false};
        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i) {
            workers.emplace_back([&, i] {
                while (!go.load()) std::this_thread::yield();
                MarkupElement root;
                root.Parse(texts[static_cast<size_t>(i)].c_str(), DefaultMarkupOptions(),
                           &records[static_cast<size_t>(i)]);
            });
        }
        go = true;
        for (std::thread& worker : workers) worker.join();
        for (int i = 0; i < threads; ++i) {
            const MarkupError& record = records[static_cast<size_t>(i)];
            EXPECT_EQ(record.Position(), expected[static_cast<size_t>(i)].first) << texts[static_cast<size_t>(i)];
            EXPECT_EQ(record.Code(), i % 4 + 1);
            EXPECT_EQ(record.Message(), expected[static_cast<size_t>(i)].second);
        }
    }
}

// The reply lookup hands its failure to the caller's record, the same one the element tree records,
// and keeps the first of several lookups.
TEST(MarkupError, TheReplyLookupRecordsItsFirstFailureWhereAsked) {
    const std::string first = "<a/ >";
    MarkupError record;
    EXPECT_EQ(GetReplyField(first, "x", &record), "");
    EXPECT_EQ(GetReplyField("<a>x</b>", "x", &record), "");
    EXPECT_EQ(record.Code(), FAILURE_TAG_NOT_CLOSED);
    EXPECT_EQ(record.Message(), "Element must be closed.");
    EXPECT_EQ(record.Position(), first.c_str() + 3);
}

}  // namespace
}  // namespace tamsel::markup
