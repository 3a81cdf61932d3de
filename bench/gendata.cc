// gendata: random records of a layout for tests and benchmarks.
//
//   gendata -n COUNT (-d FIELDS | layout.ord) [--seed N] [--config FILE.json] [--text] [-o FILE]
//
// --config holds one generator configuration per field name, e.g.
//   {"Id": {"range": {"min": 1, "max": 1000000}}, "Name": {"values": ["a", "b", null]}}
// An int or double field may instead count: {"Id": {"sequence": {"start": 1, "step": 1}}} gives
// record r the value start + r * step (an int wraps around its 32 bits, so an odd step gives
// 2^32 distinct values in a scrambled order). With --seed, field i draws from a generator seeded
// with N + i, so the data repeat.
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

// A counting field: record r gets start + r * step.
struct Sequence {
  bool counts = false;
  __int128 start = 0;
  __int128 step = 1;
};

bool ReadSequence(const rapidjson::Value& settings, Sequence& sequence) {
  if (!settings.IsObject()) {
    return true;
  }
  auto member = settings.FindMember("sequence");
  if (member == settings.MemberEnd()) {
    return true;
  }
  if (!member->value.IsObject()) {
    return false;
  }
  sequence.counts = true;
  for (auto [name, target] : {std::pair{"start", &sequence.start}, {"step", &sequence.step}}) {
    auto m = member->value.FindMember(name);
    if (m != member->value.MemberEnd()) {
      if (!m->value.IsInt64()) {
        return false;
      }
      *target = m->value.GetInt64();
    }
  }
  return true;
}

// Configures each field's generator from the JSON object at `path`; fills `sequences`.
bool Configure(const std::string& path, TypeTraitsCollection& layout,
               std::vector<Sequence>& sequences) {
  bool ok;
  std::string json = ReadAll(path, ok);
  rapidjson::Document document;
  if (!ok || document.Parse(json.c_str()).HasParseError() || !document.IsObject()) {
    g_Logger.Fail("Can't read generator configuration: '%s'.", path.c_str());
    return false;
  }
  for (size_t i = 0; i < layout.size(); ++i) {
    auto member = document.FindMember(layout[i].name().c_str());
    if (member == document.MemberEnd()) {
      continue;
    }
    std::string error;
    const void* data;
    size_t size;
    bool good = ReadSequence(member->value, sequences[i]);
    if (!good) {
      error = "a sequence is {\"start\": N, \"step\": N}";
    } else if (sequences[i].counts) {
      good = layout[i].ReadFromInteger(__int128{0}, data, size);
      error = "only an int or double field counts";
    } else {
      good = layout[i].generator()->Configure(member->value, &error);
    }
    if (!good) {
      g_Logger.Fail("Bad generator configuration of field '%s': %s.", layout[i].name().c_str(),
                    error.c_str());
      return false;
    }
  }
  return true;
}

bool WriteRecords(TypeTraitsCollection& layout, const std::vector<Sequence>& sequences,
                  uint64_t count, bool text, FILE* file) {
  BufferedFileOutput output(file, false);
  for (uint64_t r = 0; r < count; ++r) {
    for (size_t i = 0; i < layout.size(); ++i) {
      TypeTraits& field = layout[i];
      size_t size = 0;
      if (sequences[i].counts) {
        const void* data;
        field.ReadFromInteger(sequences[i].start + static_cast<__int128>(r) * sequences[i].step,
                              data, size);
      } else {
        field.Generate(size, false);
      }
      if (text) {
        field.Print(output);
      } else {
        field.Write(output);
      }
    }
  }
  return output.flush();
}

struct Arguments {
  TypeTraitsCollection layout;
  uint64_t count = 0;
  std::optional<uint32_t> seed;
  std::optional<std::string> config;
  std::optional<std::string> outputPath;
  bool text = false;
};

bool ParseArguments(int argc, char** argv, Arguments& a) {
  std::vector<std::string> positionals;
  auto onOption = [&](size_t id, const char* argument) {
    switch (id) {
      case 0:
        if (auto error = TypeTraitsParser::ParseInlineFields(argument, a.layout)) {
          g_Logger.Fail("%s", error->c_str());
          return false;
        }
        break;
      case 1:
        a.count = strtoull(argument, nullptr, 10);
        break;
      case 2:
        a.seed = static_cast<uint32_t>(strtoul(argument, nullptr, 10));
        break;
      case 3:
        a.config = argument;
        break;
      case 4:
        a.text = true;
        break;
      case 5:
        a.outputPath = argument;
        break;
    }
    return true;
  };
  if (ParseCommandLine(argc, argv, kOptions, onOption, positionals) != kExitSuccess) {
    return false;
  }
  std::optional<std::string> error;
  if (!positionals.empty() && a.layout.empty()) {
    error = TypeTraitsParser::LoadAndParseFields(positionals[0], a.layout);
  }
  if (!error) {
    error = CheckPresenceAndUniqueness(a.layout);
  }
  if (error) {
    g_Logger.Fail("%s", error->c_str());
    return false;
  }
  return true;
}

int Main(int argc, char** argv) {
  Arguments a;
  if (!ParseArguments(argc, argv, a)) {
    return kExitFailure;
  }
  a.layout.Prepare();
  std::vector<Sequence> sequences(a.layout.size());
  if (a.config && !Configure(*a.config, a.layout, sequences)) {
    return kExitFailure;
  }
  if (a.seed) {
    for (size_t i = 0; i < a.layout.size(); ++i) {
      a.layout[i].generator()->Seed(*a.seed + static_cast<uint32_t>(i));
    }
  }
  FILE* file = stdout;
  if (a.outputPath && (file = fopen(a.outputPath->c_str(), "wb")) == nullptr) {
    g_Logger.Fail("Can't open output file: '%s'.", a.outputPath->c_str());
    return kExitFailure;
  }
  bool written = WriteRecords(a.layout, sequences, a.count, a.text, file);
  if (a.outputPath) {
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
