// Baseline: RapidJSON (header-only, compiled here with the same flags as the
// other programs). Default parse flags: strings are copied, not parsed in situ.
#include "harness.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

struct Rapidjson {
    static constexpr const char *name = "rapidjson";
    using Tree = rapidjson::Document *;

    static Tree parse(const char *text)
    {
        auto *document = new rapidjson::Document;
        document->Parse(text);
        if (!document->HasParseError())
            return document;
        delete document;
        return nullptr;
    }

    static void release(Tree tree) { delete tree; }

    static size_t serialize(Tree tree, bench::Form form)
    {
        rapidjson::StringBuffer buffer;
        if (form == bench::Form::pretty) {
            rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
            writer.SetIndent(' ', 4);
            tree->Accept(writer);
        } else {
            rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
            tree->Accept(writer);
        }
        return buffer.GetSize();
    }
};

}  // namespace

int main(int argc, char **argv)
{
    return bench::run_benchmarks<Rapidjson>(argc, argv);
}
