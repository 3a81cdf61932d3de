// The output bytes of every symbol of one field, made in one pass over its symbol table, so that
// each row costs one lookup per field and no conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/large_allocator.h"
#include "types/type_traits.h"

namespace orv {

// Entry e (0: null, s + 1: symbol s) starts at e × stride(). When every entry has the same
// width the entry is just its bytes; otherwise a length byte comes first. Entries that need
// attention at their first use (a symbol that can't be converted, a printed value that breaks
// the text stream) are marked; a table without marks keeps no marks at all.
//
// Outputs may also borrow a symbol table's bytes where every symbol's payload is already its
// value's output: at(s + 1) is then the valueWidth() bytes after symbol s's kind byte, stride()
// apart. A nullable field's outputs put a flag byte first (0; 1 alone for null), so their entries
// are made by CopyEntry or Stage, and at(0) only marks the null. Text outputs may borrow such
// bytes too: CopyEntry and Stage then print the values as rows name them. So may binary outputs
// of values that the field reads from the symbols' bytes: CopyEntry and Stage read them then.
class SymbolOutputs {
 public:
  enum Mark : uint8_t { kClean = 0, kUnreadable = 1, kBreaksText = 2 };
  // The longest entry kept; a longer one makes Append fail.
  static constexpr size_t kMaxWidth = 62;
  // Readable bytes after the last entry, for copies of a fixed size.
  static constexpr size_t kSlack = 64;
  // Bytes Stage may write after the last staged entry.
  static constexpr size_t kStageSlack = 32;

  // Room for `entries` entries, appended in order, in at most `maxBytes` bytes.
  explicit SymbolOutputs(uint64_t entries, uint64_t maxBytes = UINT64_MAX)
      : entries_(entries), maxBytes_(maxBytes) {}
  // The entries of `symbols` symbols of `stride` bytes each, the first at `first`, whose
  // `valueWidth` bytes after the kind byte are their values' outputs, after a flag byte where
  // `flagged`. The bytes must outlive the outputs and have kSlack readable bytes after them.
  static std::unique_ptr<SymbolOutputs> Borrow(const char* first, uint64_t symbols, size_t stride,
                                               size_t valueWidth, bool flagged);

  // Entries printed as `type` prints the symbols (see TypeTraits::PrintPlainValues) of a table
  // of `symbols` symbols of `stride` bytes each, the first at `first`, with the null entry
  // `printing.null`; at(s + 1) is symbol s. Null where an entry could be longer than kMaxWidth.
  // The bytes, the type and `field` must outlive the outputs, and kSlack bytes after the table be
  // readable.
  static std::unique_ptr<SymbolOutputs> BorrowPrinted(const char* first, uint64_t symbols,
                                                      size_t stride, const TypeTraits& type,
                                                      const QvdFieldMetadata& field,
                                                      TypeTraits::AffixedPrinting printing);

  // Entries that `type` reads from a table of `symbols` symbols of `stride` bytes each, the first
  // at `first`, as rows name them (see TypeTraits::ReadPlainValues): at(s + 1) is symbol s, and
  // a nullable field's entries are made as Borrow's are. Every symbol must be one that `type`
  // reads so, and its stream values 4 or 8 bytes. As for BorrowPrinted, the bytes, the type and
  // `field` must outlive the outputs, and kSlack bytes after the table be readable.
  static std::unique_ptr<SymbolOutputs> BorrowRead(const char* first, uint64_t symbols,
                                                   size_t stride, const TypeTraits& type,
                                                   const QvdFieldMetadata& field);

  // Appends the next entry; false when it is too long or the table would outgrow its bytes.
  bool Append(std::string_view bytes, Mark mark);
  // Appends n clean entries of `width` bytes (4 or 8) each from `values`, each after a flag byte 0
  // where `flagged`, as Append would one by one.
  bool AppendValues(const char* values, uint64_t n, size_t width, bool flagged);
  // Appends the entries of `part`, as Append and AppendUnused would have made them here (an unused
  // entry only leads a table).
  bool AppendAll(const SymbolOutputs& part);
  // Appends an entry that no row may name (its bytes are zeros), without bearing on the width.
  void AppendUnused() {
    if (count_ < entries_) {
      leadingUnused_ += count_ == leadingUnused_ ? 1 : 0;
      ++count_;
    }
  }

  uint64_t entries() const { return entries_; }
  // Whether symbol number s (-1: null, which only a nullable field may hold) has an entry.
  bool Holds(int64_t s, bool nullable) const {
    // Null and the other negative numbers wrap past the symbols.
    return static_cast<uint64_t>(s) < entries_ - 1 || (s == -1 && nullable);
  }
  bool fixed() const { return fixed_; }
  // The distance between entries, and the bytes each holds (a length byte included; a borrowed
  // nullable field's entries as Stage makes them).
  size_t stride() const { return stride_; }
  size_t width() const {
    return printer_ != nullptr ? printWidth_
           : !borrowed_        ? stride_
           : fixed_            ? valueWidth_
                               : valueWidth_ + 2;
  }
  bool borrowed() const { return borrowed_; }
  size_t valueWidth() const { return valueWidth_; }
  // The bytes from at(e) that making entry e reads.
  size_t span() const {
    return printer_ != nullptr || reader_ != nullptr ? stride_ : borrowed_ ? valueWidth_ : width();
  }
  bool clean() const { return marks_.empty(); }
  Mark mark(uint64_t e) const { return marks_.empty() ? kClean : static_cast<Mark>(marks_[e]); }
  const char* at(uint64_t e) const {
    return e == 0 ? zero_ : first_ + (static_cast<ptrdiff_t>(e) - 1) * step_;
  }
  // The bytes of entry e (not of a borrowed nullable field's: see CopyEntry).
  std::string_view bytes(uint64_t e) const {
    const char* p = at(e);
    return fixed_ ? std::string_view(p, width())
                  : std::string_view(p + 1, static_cast<uint8_t>(p[0]));
  }
  // Copies the bytes of entry e to `to` (room for kMaxWidth of them); returns their count.
  size_t CopyEntry(uint64_t e, char* to) const;
  // Copies the entries at `entries[0, n)`, each at(e) of some entry e, to `stage` one after the
  // other, width() bytes each: as they lie, printed, or for a borrowed nullable field's, a length
  // byte and a flag byte added. The stage has kStageSlack bytes to spare at its end, and the
  // entries as many readable after them: a fixed 8, 16 or 32 bytes are copied where they fit.
  void Stage(const char* const* entries, uint64_t n, char* stage) const;

 private:
  // Makes the form and width hold an entry of `size` bytes next, as Append does.
  bool Fit(size_t size);
  // Moves the entries so far to a new width and form.
  bool Restride(size_t stride, bool fixed);

  uint64_t entries_;
  uint64_t maxBytes_;
  uint64_t count_ = 0;
  uint64_t leadingUnused_ = 0;  // entries before the first appended bytes
  size_t stride_ = 0;
  bool fixed_ = true;
  bool borrowed_ = false;
  size_t valueWidth_ = 0;                // borrowed entries' bytes
  const char* zero_ = nullptr;           // entry 0
  const char* first_ = nullptr;          // entry 1
  ptrdiff_t step_ = 0;                   // stride_, signed
  char null_[kSlack] = {1, 1};           // a borrowed nullable field's null, as Stage makes it
  const TypeTraits* printer_ = nullptr;  // prints borrowed entries
  const TypeTraits* reader_ = nullptr;   // reads borrowed entries' values
  const QvdFieldMetadata* field_ = nullptr;
  TypeTraits::AffixedPrinting printing_;
  size_t printWidth_ = 0;
  LargeBuffer buffer_;
  std::vector<uint8_t> marks_;
};

}  // namespace orv
