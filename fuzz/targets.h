// Fuzz entry points, shared by the libFuzzer targets and by the test that replays the saved
// corpus with the ordinary build.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "inspect/type_inference.h"
#include "programs/feedout/feed_out.h"
#include "programs/packdown/pack_down.h"
#include "qvd/header_parser.h"
#include "qvd/table_reader.h"
#include "runtime/data_definition.h"
#include "runtime/file_mapping.h"
#include "runtime/input.h"
#include "runtime/logger.h"
#include "runtime/output.h"
#include "types/csv_text.h"
#include "types/decimal_text.h"
#include "types/type_traits_parser.h"

namespace orv::fuzz {

// A whole QVD prefix: header read up to the NUL and parsed.
inline void QvdHeader(const uint8_t* data, size_t size) {
  MemoryInput input(data, size);
  std::string header;
  uint64_t dataStart = 0;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
  (void)ReadQvdHeader(input, header, dataStart, table, fields);
}

// Data-definition text; what parses must render and parse to the same text.
inline void DataDefinition(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TypeTraitsCollection fields;
  if (TypeTraitsParser::ParseInlineFields(text, fields)) {
    return;
  }
  std::string rendered = ToString(fields, false);
  TypeTraitsCollection again;
  if (TypeTraitsParser::ParseInlineFields(rendered, again) || ToString(again, false) != rendered) {
    __builtin_trap();
  }
}

// Delimited text records through a layout with every type, printed back.
inline void TextRecords(const uint8_t* data, size_t size) {
  TypeTraitsCollection fields;
  if (TypeTraitsParser::ParseInlineFields(
          "a int nullable; b double; c decimal(12,3) null=\"N\"; d date; e datetime nullable; "
          "f string quote=\"'\"; g string(3) separator=\"|;\"; h string nullable",
          fields)) {
    __builtin_trap();
  }
  fields.Prepare();
  MemoryInput input(data, size);
  FILE* sink = fopen("/dev/null", "wb");
  {
    BufferedFileOutput output(sink, false);
    for (int record = 0; record < 1000; ++record) {
      for (const auto& field : fields) {
        size_t bytes = 0;
        if (field->Parse(input, bytes, true) != kStatusOk) {
          goto done;
        }
        field->Print(output);
      }
    }
  done:;
  }
  fclose(sink);
}

// Decimal text at a precision and scale taken from the first two bytes.
inline void DecimalText(const uint8_t* data, size_t size) {
  if (size < 2) {
    return;
  }
  DecimalTextSettings settings{static_cast<uint8_t>(1 + data[0] % 38), 0};
  settings.scale = static_cast<uint8_t>(data[1] % (settings.precision + 1));
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  std::optional<__int128> value = ParseDecimalText(text, settings);
  if (!value) {
    return;
  }
  char printed[kDecimalTextCapacity];
  size_t length = FormatDecimalText(*value, settings, printed);
  if (ParseDecimalText(std::string_view(printed, length), settings) != value) {
    __builtin_trap();
  }
}

// Runs a program entry point over `data` held in an anonymous in-memory file, with its log lines
// and output thrown away.
class ProgramRun {
 public:
  ProgramRun(const uint8_t* data, size_t size) {
    fd_ = memfd_create("fuzz-input", 0);
    if (fd_ >= 0 && write(fd_, data, size) == static_cast<ssize_t>(size)) {
      lseek(fd_, 0, SEEK_SET);
      path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    sink_ = fopen("/dev/null", "wb");
    g_Logger.SetStream(sink_);
  }
  ~ProgramRun() {
    g_Logger.SetStream(stderr);
    fclose(sink_);
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  FILE* sink() const { return sink_; }

  template <typename Main>
  int Run(Main main, std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return main(static_cast<int>(arguments.size()), argv.data());
  }

  // Run, with the log kept: a success logs no FAIL line, a failure exits 20 after exactly one.
  template <typename Main>
  int RunChecked(Main main, std::vector<std::string> arguments) {
    char* log = nullptr;
    size_t logSize = 0;
    FILE* stream = open_memstream(&log, &logSize);
    if (stream == nullptr) {
      return Run(main, std::move(arguments));
    }
    g_Logger.SetStream(stream);
    const int status = Run(main, std::move(arguments));
    g_Logger.SetStream(sink_);
    fclose(stream);
    size_t fails = 0;
    for (std::string_view rest(log, logSize); !rest.empty();) {
      const size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      const size_t first = line.find('|');
      const size_t second = first == std::string_view::npos ? first : line.find('|', first + 1);
      fails += second != std::string_view::npos && line.substr(second + 1, 5) == "FAIL|";
    }
    free(log);
    if (status == 0 ? fails != 0 : status != 20 || fails != 1) {
      __builtin_trap();
    }
    return status;
  }

 private:
  int fd_ = -1;
  std::string path_;
  FILE* sink_ = nullptr;
};

// A whole QVD file through the table reader, as drawoff reads it: the layout comes from the file's
// own header (every field a nullable string, or the types tablepeek infers), in memory or
// low-memory mode, to binary or text records.
// As drawoff --csv, `csv` sets every field to CSV text after the given delimiter.
inline void QvdReaderAs(const uint8_t* data, size_t size, bool csv) {
  MemoryInput header(data, size);
  std::string text;
  uint64_t dataStart = 0;
  QvdTableMetadata table;
  std::vector<QvdFieldMetadata> fields;
  if (ReadQvdHeader(header, text, dataStart, table, fields) || fields.empty() ||
      fields.size() > 64) {
    return;
  }
  InspectedLayoutOptions inferred;
  inferred.allAsString = size % 2 == 0;
  inferred.nullText = "";
  TypeTraitsCollection inspected;
  BuildInspectedLayout(fields, inferred, inspected);
  TypeTraitsCollection layout;  // as drawoff gets it: through the data-definition text
  if (TypeTraitsParser::ParseInlineFields(ToString(inspected, true), layout)) {
    return;
  }
  if (csv) {
    ApplyCsvOutput(layout, size % 2 == 0 ? ',' : ';');
  } else {
    layout.Prepare();
  }
  ProgramRun run(data, size);
  if (!run.ok()) {
    return;
  }
  TableReadOptions options;
  options.lowMemory = size % 3 == 0;
  options.path = run.path();
  options.guessUniformSymbolSize = size % 5 == 0;
  options.conversion.textOutput = csv || size % 7 < 3;
  options.conversion.checkOutput = options.conversion.textOutput;
  options.threads = size % 4 < 2 ? 1 : 2;  // chunks of a single batch: reached by small inputs
  options.chunkBatches = 1;
  if (size % 13 == 0) {
    options.chunkOutputBytes = 64;  // chunks that stop early, and batches too large to chunk
  }
  options.conversion.leastBorrowed = 1;
  FILE* file = fopen(run.path().c_str(), "rb");
  if (file == nullptr) {
    return;
  }
  // As drawoff reads a regular file: through a mapping (now and then through reads, as a pipe).
  std::unique_ptr<IFileInput> input;
  if (!options.lowMemory && size % 11 != 0) {
    input = MappedFileInput::Open(file);
  }
  if (input == nullptr) {
    input = IFileInput::Create(file, false, false, false);
  }
  QvdTableReader reader(layout, options);
  BufferedFileOutput output(run.sink(), false);
  IntervalStats stats("records");
  if (reader.Open(*input).ok()) {
    (void)reader.ReadRows(*input, output, stats);
  }
  output.flush();
  input.reset();
  fclose(file);
}

inline void QvdReader(const uint8_t* data, size_t size) {
  QvdReaderAs(data, size, false);
}
inline void DrawOffCsv(const uint8_t* data, size_t size) {
  QvdReaderAs(data, size, true);
}

inline constexpr const char* kRecordLayout =
    "a int nullable; b double; c decimal(12,3) nullable; d date; e datetime nullable; "
    "f string quote=\"'\"; g string(3) nullable; h decimal(30,5)";

// Records into packdown, as text or as the binary stream.
inline void PackDownRecords(const uint8_t* data, size_t size) {
  ProgramRun run(data, size);
  if (!run.ok()) {
    return;
  }
  std::vector<std::string> arguments = {"packdown",  "-i", run.path(),   "-o",
                                        "/dev/null", "-d", kRecordLayout};
  if (size % 2 == 0) {
    arguments.push_back("-x");
  }
  run.Run(PackDownMain, arguments);
}

// CSV into packdown: with a fixed layout for even sizes (by position, or by header name), else with
// the layout inferred from the values; some inputs read unbuffered.
inline void PackDownCsv(const uint8_t* data, size_t size) {
  ProgramRun run(data, size);
  if (!run.ok()) {
    return;
  }
  std::vector<std::string> arguments = {"packdown", "-i", run.path(), "-o", "/dev/null", "--csv"};
  if (size % 2 == 0) {
    arguments.insert(arguments.end(),
                     {"-d",
                      "a int nullable; b double; c decimal(12,3) nullable; d date; "
                      "e datetime nullable; f string; g string(3) nullable; h decimal(30,5)"});
    if (size % 4 == 0) {
      arguments.push_back("-m");
    } else if (size % 3 == 0) {
      arguments.push_back("--no-header");
    }
  } else if (size % 3 == 0) {
    arguments.push_back("--delimiter=;");
  }
  if (size % 5 == 0) {
    arguments.push_back("--unbuffered");  // reads of a byte or so: values across refills
  }
  run.RunChecked(PackDownMain, arguments);
}

// Records into feedout, as text or as the binary stream (the QVX form has no 128-bit decimal).
inline void FeedOutRecords(const uint8_t* data, size_t size) {
  ProgramRun run(data, size);
  if (!run.ok()) {
    return;
  }
  FILE* in = fopen(run.path().c_str(), "rb");
  if (in == nullptr) {
    return;
  }
  std::vector<std::string> arguments = {"feedout", "-d",
                                        "a int nullable; b double; c decimal(12,3) nullable; "
                                        "d date; e datetime nullable; f string; g string(3)"};
  if (size % 2 == 0) {
    arguments.push_back("-x");
  }
  run.Run([&](int argc, char** argv) { return FeedOutMain(argc, argv, in, run.sink()); },
          arguments);
  fclose(in);
}

}  // namespace orv::fuzz
