// gendata: random records of a layout for tests and benchmarks.
//
//   gendata -n COUNT (-d FIELDS | layout.ord) [--seed N] [--config FILE.json] [--text] [-o FILE]
//
// --config holds one generator configuration per field name, e.g.
//   {"Id": {"range": {"min": 1, "max": 1000000}}, "Name": {"values": ["a", "b", null]}}
// With --seed, field i draws from a generator seeded with N + i, so the data repeat.
#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "runtime/logger.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/tool.h"
#include "types/type_traits_parser.h"

namespace {

using namespace orv;

constexpr OptionSpec kOptions[] = {
    {"data-definition", 'd', ArgumentKind::kRequired},
    {"count", 'n', ArgumentKind::kRequired},
    {"seed", 0, ArgumentKind::kRequired},
    {"config", 0, ArgumentKind::kRequired},
    {"text", 0, ArgumentKind::kNone},
    {"output", 'o', ArgumentKind::kRequired},
};

std::string ReadAll(const std::string& path, bool& ok) {
  std::string text;
  FILE* file = fopen(path.c_str(), "rb");
  ok = file != nullptr;
  if (file != nullptr) {
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
      text.append(buffer, n);
    }
    fclose(file);
  }
  return text;
}

int Main(int argc, char** argv) {
  TypeTraitsCollection layout;
  uint64_t count = 0;
  std::optional<uint32_t> seed;
  std::optional<std::string> config;
  std::optional<std::string> outputPath;
  bool text = false;
  std::vector<std::string> positionals;
  auto onOption = [&](size_t id, const char* argument) {
    switch (id) {
      case 0:
        if (auto error = TypeTraitsParser::ParseInlineFields(argument, layout)) {
          g_Logger.Fail("%s", error->c_str());
          return false;
        }
        break;
      case 1:
        count = strtoull(argument, nullptr, 10);
        break;
      case 2:
        seed = static_cast<uint32_t>(strtoul(argument, nullptr, 10));
        break;
      case 3:
        config = argument;
        break;
      case 4:
        text = true;
        break;
      case 5:
        outputPath = argument;
        break;
    }
    return true;
  };
  if (ParseCommandLine(argc, argv, kOptions, onOption, positionals) != kExitSuccess) {
    return kExitFailure;
  }
  if (!positionals.empty() && layout.empty()) {
    if (auto error = TypeTraitsParser::LoadAndParseFields(positionals[0], layout)) {
      g_Logger.Fail("%s", error->c_str());
      return kExitFailure;
    }
  }
  if (auto error = CheckPresenceAndUniqueness(layout)) {
    g_Logger.Fail("%s", error->c_str());
    return kExitFailure;
  }
  layout.Prepare();
  if (config) {
    bool ok;
    std::string json = ReadAll(*config, ok);
    rapidjson::Document document;
    if (!ok || document.Parse(json.c_str()).HasParseError() || !document.IsObject()) {
      g_Logger.Fail("Can't read generator configuration: '%s'.", config->c_str());
      return kExitFailure;
    }
    for (const auto& field : layout) {
      auto member = document.FindMember(field->name().c_str());
      std::string error;
      if (member != document.MemberEnd() && !field->generator()->Configure(member->value, &error)) {
        g_Logger.Fail("Bad generator configuration of field '%s': %s.", field->name().c_str(),
                      error.c_str());
        return kExitFailure;
      }
    }
  }
  if (seed) {
    for (size_t i = 0; i < layout.size(); ++i) {
      layout[i].generator()->Seed(*seed + static_cast<uint32_t>(i));
    }
  }
  FILE* file = stdout;
  if (outputPath && (file = fopen(outputPath->c_str(), "wb")) == nullptr) {
    g_Logger.Fail("Can't open output file: '%s'.", outputPath->c_str());
    return kExitFailure;
  }
  bool written;
  {
    BufferedFileOutput output(file, false);
    for (uint64_t r = 0; r < count; ++r) {
      for (const auto& field : layout) {
        size_t size = 0;
        field->Generate(size, false);
        if (text) {
          field->Print(output);
        } else {
          field->Write(output);
        }
      }
    }
    written = output.flush();
  }
  if (outputPath) {
    written = fclose(file) == 0 && written;
  }
  if (!written) {
    g_Logger.Fail("Error writing output.");
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  if (!orv::Boot("gendata")) {
    return orv::kExitFailure;
  }
  return Main(argc, argv);
}
