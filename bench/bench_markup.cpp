// The reply reader beside pugixml on typical service replies: parse the body, find one field's value.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <pugixml.hpp>

#include "markup/ReplyField.h"

namespace {

const std::string kQueryReply =
    "<!-- download service reply -->\r\n"
    "<reply>\r\n"
    "  <field name=\"StatusCode\" value=\"1\"/>\r\n"
    "  <field name=\"downloadURL\" value=\"http://dl.norvik.example/files/setup-4.2.1.exe?t=8f3a9c&amp;s=2\"/>\r\n"
    "  <field name=\"filesize\" value=\"48213504\"/>\r\n"
    "</reply>\r\n";

const std::string kReportReply =
    "<!-- download report -->\r\n"
    "<reply>\r\n"
    "  <field name=\"StatusCode\" value=\"1\"/>\r\n"
    "  <field name=\"message\" value=\"recorded\"/>\r\n"
    "  <field name=\"code\" value=\"A7K2-99QF-3MZT\"/>\r\n"
    "  <field name=\"dltotalcount\" value=\"5\"/>\r\n"
    "  <field name=\"dltimes\" value=\"2\"/>\r\n"
    "</reply>\r\n";

const char* const kQueryFields[] = {"StatusCode", "downloadURL", "filesize"};

std::string PugiField(const std::string& body, const char* name) {
    pugi::xml_document document;
    if (!document.load_buffer(body.data(), body.size())) return std::string();
    for (pugi::xml_node field : document.document_element().children()) {
        if (std::strcmp(field.attribute("name").value(), name) == 0) return field.attribute("value").value();
    }
    return std::string();
}

using Lookup = std::string (*)(const std::string&, const char*);

std::string ReaderField(const std::string& body, const char* name) {
    return tamsel::markup::GetReplyField(body, name);
}

// The three lookups of a QueryDownload reply, each parsing the whole body as the agent does.
template <Lookup lookup>
void QueryDownload(benchmark::State& state) {
    for (auto _ : state) {
        for (const char* name : kQueryFields) benchmark::DoNotOptimize(lookup(kQueryReply, name));
    }
}

template <Lookup lookup>
void ReportField(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(lookup(kReportReply, "dltimes"));
}

BENCHMARK_TEMPLATE(QueryDownload, ReaderField)->Name("Reader/QueryDownload");
BENCHMARK_TEMPLATE(QueryDownload, PugiField)->Name("Pugixml/QueryDownload");
BENCHMARK_TEMPLATE(ReportField, ReaderField)->Name("Reader/ReportLastField");
BENCHMARK_TEMPLATE(ReportField, PugiField)->Name("Pugixml/ReportLastField");

// Both readers must agree on these replies, or the comparison means nothing.
void CheckAgreement() {
    for (const char* name : kQueryFields) {
        if (ReaderField(kQueryReply, name) != PugiField(kQueryReply, name)) {
            std::fprintf(stderr, "readers disagree on %s\n", name);
            std::exit(1);
        }
    }
    if (ReaderField(kReportReply, "dltimes") != "2" || PugiField(kReportReply, "dltimes") != "2") {
        std::fprintf(stderr, "readers disagree on dltimes\n");
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    CheckAgreement();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
