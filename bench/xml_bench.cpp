// XMPP stream parsing fed one byte at a time: the document model against expat.

#include <benchmark/benchmark.h>
#include <expat.h>

#include <memory>
#include <string>

#include "bench/corpus.h"
#include "xml/xml_node.h"

namespace {

std::string g_stream;

// As the XMPP client reads: every byte goes into the current document; a
// complete document is handed on and a new one started. The stanzas are the
// complete documents whose first element is neither the declaration (the
// stream header) nor missing (the stream's end tag).
void BM_XmlNodeFeedStream(benchmark::State& state)
{
    using Result = vokar::XmlNode::FeedResult;
    size_t stanzas = 0;
    for (auto _ : state) {
        stanzas = 0;
        auto doc = vokar::XmlNode::new_document();
        for (const char c : g_stream) {
            const Result r = doc->feed(c);
            if (r == Result::Incomplete)
                continue;
            if (r == Result::Failed) {
                state.SkipWithError("parser limit exceeded");
                return;
            }
            if (!doc->children.empty() && doc->children[0]->name != "?xml")
                ++stanzas;
            benchmark::DoNotOptimize(doc.get());
            doc = vokar::XmlNode::new_document();
        }
    }
    state.counters["stanzas"] = static_cast<double>(stanzas);
    state.counters["stanzas/s"] = benchmark::Counter(
        static_cast<double>(stanzas * state.iterations()), benchmark::Counter::kIsRate);
}

struct ExpatCount {
    int depth = 0;
    size_t stanzas = 0;
};

void XMLCALL on_start(void* data, const XML_Char*, const XML_Char**)
{
    ++static_cast<ExpatCount*>(data)->depth;
}

void XMLCALL on_end(void* data, const XML_Char*)
{
    auto* count = static_cast<ExpatCount*>(data);
    if (--count->depth == 1) // a child of the stream element ended
        ++count->stanzas;
}

void BM_ExpatFeedStream(benchmark::State& state)
{
    size_t stanzas = 0;
    for (auto _ : state) {
        ExpatCount count;
        const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(
            XML_ParserCreate(nullptr), XML_ParserFree);
        XML_SetUserData(parser.get(), &count);
        XML_SetElementHandler(parser.get(), on_start, on_end);
        for (const char& c : g_stream) {
            if (XML_Parse(parser.get(), &c, 1, XML_FALSE) != XML_STATUS_OK) {
                state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser.get())));
                return;
            }
        }
        if (XML_Parse(parser.get(), nullptr, 0, XML_TRUE) != XML_STATUS_OK) {
            state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser.get())));
            return;
        }
        stanzas = count.stanzas;
    }
    state.counters["stanzas"] = static_cast<double>(stanzas);
    state.counters["stanzas/s"] = benchmark::Counter(
        static_cast<double>(stanzas * state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_XmlNodeFeedStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpatFeedStream)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    const std::string dir = vokar::bench::corpus_dir(&argc, argv);
    g_stream = vokar::bench::read_corpus_file(dir, "xmpp-stream.xml");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
