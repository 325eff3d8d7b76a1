#include "HeifItems.h"

#include <dav1d/dav1d.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace penamo::formats {

namespace {

bool Is(const TFourCC& type, const char* name) {
  return std::memcmp(type.data(), name, 4) == 0;
}

// Reads big-endian fields from a bounded span; every read past the end sets Failed and gives 0.
class TSpan {
 public:
  TSpan(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
  std::uint64_t Read(int bytes) {
    if (FFailed || bytes < 0 || static_cast<std::size_t>(bytes) > FSize - FAt) {
      FFailed = true;
      return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
      value = value << 8 | FData[FAt++];
    return value;
  }
  void Skip(std::size_t bytes) {
    if (FFailed || bytes > FSize - FAt) {
      FFailed = true;
      return;
    }
    FAt += bytes;
  }
  bool Failed() const { return FFailed; }
  std::size_t Left() const { return FFailed ? 0 : FSize - FAt; }
  const std::uint8_t* Here() const { return FData + FAt; }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FAt = 0;
  bool FFailed = false;
};

// The boxes laid one after another in [data, data + size); a box overrunning its holder ends
// the list there.
std::vector<THeifBox> BoxesIn(const std::uint8_t* data, std::size_t size,
                              const std::uint8_t* base) {
  std::vector<THeifBox> boxes;
  TSpan span(data, size);
  // No real file holds more boxes at one level; a flood of empty ones is not followed.
  constexpr std::size_t kMostBoxes = 1u << 16;
  while (span.Left() >= 8 && boxes.size() < kMostBoxes) {
    const std::uint8_t* start = span.Here();
    const std::size_t left = span.Left();
    std::uint64_t length = span.Read(4);
    THeifBox box;
    for (char& c : box.Type)
      c = static_cast<char>(span.Read(1));
    std::size_t header = 8;
    if (length == 1) {
      length = span.Read(8);
      header = 16;
    } else if (length == 0) {
      length = left;
    }
    if (span.Failed() || length < header || length > left) break;
    box.Start = static_cast<std::size_t>(start - base);
    box.Body = start + header;
    box.Size = static_cast<std::size_t>(length) - header;
    boxes.push_back(box);
    span = TSpan(start + length, left - static_cast<std::size_t>(length));
  }
  return boxes;
}

const THeifBox* Find(const std::vector<THeifBox>& boxes, const char* type) {
  for (const THeifBox& box : boxes)
    if (Is(box.Type, type)) return &box;
  return nullptr;
}

void ReadItemInfo(const THeifBox& iinf, const std::uint8_t* base, THeifLayout& layout) {
  TSpan span(iinf.Body, iinf.Size);
  const std::uint64_t version = span.Read(1);
  span.Skip(3);
  layout.EntryCountAt = static_cast<std::size_t>(span.Here() - base);
  layout.EntryCountBytes = version == 0 ? 2 : 4;
  span.Read(layout.EntryCountBytes);  // the count; the boxes that follow are what is read
  if (span.Failed()) return;
  for (const THeifBox& infe : BoxesIn(span.Here(), span.Left(), base)) {
    if (!Is(infe.Type, "infe")) continue;
    TSpan entry(infe.Body, infe.Size);
    const std::uint64_t entryVersion = entry.Read(1);
    entry.Skip(3);
    if (entryVersion < 2) continue;  // no item type: not a picture item
    THeifItem item;
    item.EntryStart = infe.Start;
    item.Id = static_cast<std::uint32_t>(entry.Read(entryVersion == 2 ? 2 : 4));
    entry.Read(2);  // protection index
    for (char& c : item.Type)
      c = static_cast<char>(entry.Read(1));
    if (!entry.Failed()) layout.Items.push_back(std::move(item));
  }
}

void ReadReferences(const THeifBox& iref, const std::uint8_t* base, THeifLayout& layout) {
  TSpan span(iref.Body, iref.Size);
  const std::uint64_t version = span.Read(1);
  span.Skip(3);
  if (span.Failed()) return;
  const int idBytes = version == 0 ? 2 : 4;
  for (const THeifBox& box : BoxesIn(span.Here(), span.Left(), base)) {
    TSpan entry(box.Body, box.Size);
    THeifReference reference;
    reference.Type = box.Type;
    reference.From = static_cast<std::uint32_t>(entry.Read(idBytes));
    const std::uint64_t count = entry.Read(2);
    for (std::uint64_t i = 0; i < count && !entry.Failed(); ++i) {
      const auto to = static_cast<std::uint32_t>(entry.Read(idBytes));
      if (!entry.Failed()) reference.To.push_back(to);
    }
    if (!entry.Failed()) layout.References.push_back(std::move(reference));
  }
}

void ReadAssociations(const THeifBox& ipma, THeifLayout& layout) {
  TSpan span(ipma.Body, ipma.Size);
  const std::uint64_t version = span.Read(1);
  const std::uint64_t flags = span.Read(3);
  const std::uint64_t count = span.Read(4);
  for (std::uint64_t i = 0; i < count && !span.Failed(); ++i) {
    const auto id = static_cast<std::uint32_t>(span.Read(version < 1 ? 2 : 4));
    const std::uint64_t associations = span.Read(1);
    std::vector<std::pair<std::size_t, bool>> properties;
    for (std::uint64_t j = 0; j < associations && !span.Failed(); ++j) {
      const bool wide = (flags & 1) != 0;
      const std::uint64_t value = span.Read(wide ? 2 : 1);
      const bool essential = (value >> (wide ? 15 : 7)) != 0;
      const std::uint64_t index = value & (wide ? 0x7FFF : 0x7F);
      if (index > 0) properties.emplace_back(static_cast<std::size_t>(index - 1), essential);
    }
    if (span.Failed()) break;
    for (THeifItem& item : layout.Items)
      if (item.Id == id)
        item.Properties.insert(item.Properties.end(), properties.begin(), properties.end());
  }
}

// An unsigned Exp-Golomb code and plain bit fields of an HEVC parameter set, its emulation
// prevention bytes taken out first; every read past the end sets Failed.
class TBits {
 public:
  TBits(const std::uint8_t* data, std::size_t size) {
    FBytes.reserve(size);
    int zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (zeros >= 2 && data[i] == 3) {
        zeros = 0;
        continue;
      }
      zeros = data[i] == 0 ? zeros + 1 : 0;
      FBytes.push_back(data[i]);
    }
  }
  std::uint32_t Bits(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
      if (FAt >= FBytes.size() * 8) {
        FFailed = true;
        return 0;
      }
      value = value << 1 | ((FBytes[FAt / 8] >> (7 - FAt % 8)) & 1u);
      ++FAt;
    }
    return value;
  }
  std::uint32_t Ue() {
    int zeros = 0;
    while (Bits(1) == 0 && !FFailed)
      if (++zeros > 31) FFailed = true;
    if (FFailed) return 0;
    return (zeros == 0 ? 0 : ((1u << zeros) - 1 + Bits(zeros)));
  }
  bool Failed() const { return FFailed; }

 private:
  std::vector<std::uint8_t> FBytes;
  std::size_t FAt = 0;
  bool FFailed = false;
};

// video_full_range_flag of an HEVC sequence parameter set (after its two-byte NAL header), or
// unknown. Absent, the flag is 0: limited range.
THeifRange RangeOfHevcSps(const std::uint8_t* nal, std::size_t size, bool monochrome) {
  THeifRange range;
  range.Monochrome = monochrome;
  if (size < 2) return range;
  TBits bits(nal + 2, size - 2);
  bits.Bits(4);
  const std::uint32_t subLayers = bits.Bits(3);
  bits.Bits(1);
  bits.Bits(96);  // the general profile, tier and level
  std::vector<bool> profilePresent(subLayers), levelPresent(subLayers);
  for (std::uint32_t i = 0; i < subLayers; ++i) {
    profilePresent[i] = bits.Bits(1) != 0;
    levelPresent[i] = bits.Bits(1) != 0;
  }
  if (subLayers > 0)
    for (std::uint32_t i = subLayers; i < 8; ++i)
      bits.Bits(2);
  for (std::uint32_t i = 0; i < subLayers; ++i) {
    if (profilePresent[i]) bits.Bits(88);
    if (levelPresent[i]) bits.Bits(8);
  }
  bits.Ue();
  const std::uint32_t chromaFormat = bits.Ue();
  range.Monochrome = chromaFormat == 0;
  if (chromaFormat == 3) bits.Bits(1);
  bits.Ue();
  bits.Ue();
  if (bits.Bits(1) != 0)
    for (int i = 0; i < 4; ++i)
      bits.Ue();
  bits.Ue();
  bits.Ue();
  const std::uint32_t pocBits = bits.Ue() + 4;
  const bool orderingAll = bits.Bits(1) != 0;
  for (std::uint32_t i = orderingAll ? 0 : subLayers; i <= subLayers && !bits.Failed(); ++i)
    for (int j = 0; j < 3; ++j)
      bits.Ue();
  for (int i = 0; i < 6; ++i)
    bits.Ue();
  if (bits.Bits(1) != 0 && bits.Bits(1) != 0) {  // scaling lists, and their data in the set
    for (int sizeId = 0; sizeId < 4 && !bits.Failed(); ++sizeId)
      for (int matrixId = 0; matrixId < 6 && !bits.Failed(); matrixId += sizeId == 3 ? 3 : 1) {
        if (bits.Bits(1) == 0) {
          bits.Ue();
          continue;
        }
        const int coefficients = std::min(64, 1 << (4 + (sizeId << 1)));
        if (sizeId > 1) bits.Ue();
        for (int k = 0; k < coefficients && !bits.Failed(); ++k)
          bits.Ue();
      }
  }
  bits.Bits(2);             // asymmetric motion partitions, sample-adaptive offset
  if (bits.Bits(1) != 0) {  // PCM
    bits.Bits(8);
    bits.Ue();
    bits.Ue();
    bits.Bits(1);
  }
  const std::uint32_t sets = bits.Ue();
  if (sets > 64) return range;
  std::vector<std::uint32_t> deltas(sets, 0);
  for (std::uint32_t i = 0; i < sets && !bits.Failed(); ++i) {
    if (i != 0 && bits.Bits(1) != 0) {
      bits.Bits(1);
      bits.Ue();
      std::uint32_t count = 0;
      for (std::uint32_t j = 0; j <= deltas[i - 1] && !bits.Failed(); ++j) {
        const bool used = bits.Bits(1) != 0;
        if (used || bits.Bits(1) != 0) ++count;
      }
      deltas[i] = count;
    } else {
      const std::uint32_t negative = bits.Ue();
      const std::uint32_t positive = bits.Ue();
      if (negative > 16 || positive > 16) return range;
      for (std::uint32_t j = 0; j < negative + positive && !bits.Failed(); ++j) {
        bits.Ue();
        bits.Bits(1);
      }
      deltas[i] = negative + positive;
    }
  }
  if (bits.Bits(1) != 0) {  // long-term reference pictures
    const std::uint32_t count = bits.Ue();
    if (count > 32) return range;
    for (std::uint32_t i = 0; i < count && !bits.Failed(); ++i)
      bits.Bits(static_cast<int>(std::min<std::uint32_t>(pocBits, 32)) + 1);
  }
  bits.Bits(2);  // temporal motion vectors, strong intra smoothing
  bool full = false;
  if (bits.Bits(1) != 0) {  // VUI
    if (bits.Bits(1) != 0 && bits.Bits(8) == 255) bits.Bits(32);
    if (bits.Bits(1) != 0) bits.Bits(1);
    if (bits.Bits(1) != 0) {
      bits.Bits(3);
      full = bits.Bits(1) != 0;
    }
  }
  if (bits.Failed()) return range;
  range.Known = true;
  range.Limited = !full;
  return range;
}

THeifRange RangeOfHvcC(const THeifBox& hvcC) {
  THeifRange unknown;
  TSpan span(hvcC.Body, hvcC.Size);
  span.Skip(16);
  const bool monochrome = (span.Read(1) & 3) == 0;
  span.Skip(5);
  const std::uint64_t arrays = span.Read(1);
  for (std::uint64_t a = 0; a < arrays && !span.Failed(); ++a) {
    const std::uint64_t type = span.Read(1) & 0x3F;
    const std::uint64_t count = span.Read(2);
    for (std::uint64_t n = 0; n < count && !span.Failed(); ++n) {
      const auto length = static_cast<std::size_t>(span.Read(2));
      if (span.Failed() || length > span.Left()) return unknown;
      if (type == 33) return RangeOfHevcSps(span.Here(), length, monochrome);
      span.Skip(length);
    }
  }
  unknown.Monochrome = monochrome;
  return unknown;
}

// The AV1 item's range from its sequence header: among the 'av1C' box's configuration OBUs, or
// where the box carries none (as many encoders write it, the OBUs being optional there), at the
// start of the item's own data,
// where every AV1 item's first sample must begin with one.
THeifRange RangeOfAv1C(const THeifBox& av1C, const THeifLocation* data, const THeifLayout& layout) {
  THeifRange range;
  if (av1C.Size < 4) return range;
  range.Monochrome = (av1C.Body[2] & 0x10) != 0;
  Dav1dSequenceHeader header{};
  const bool configured =
      av1C.Size > 4 && dav1d_parse_sequence_header(&header, av1C.Body + 4, av1C.Size - 4) == 0;
  if (!configured &&
      (data == nullptr || layout.Data == nullptr ||
       dav1d_parse_sequence_header(&header, layout.Data + data->Offset, data->Length) != 0))
    return range;
  range.Known = true;
  range.Limited = header.color_range == 0;
  range.Monochrome = header.layout == DAV1D_PIXEL_LAYOUT_I400;
  return range;
}

bool IsAlphaType(const THeifBox& auxC) {
  if (auxC.Size < 4) return false;
  const std::string urn(reinterpret_cast<const char*>(auxC.Body + 4),
                        strnlen(reinterpret_cast<const char*>(auxC.Body + 4), auxC.Size - 4));
  return urn == "urn:mpeg:mpegB:cicp:systems:auxiliary:alpha" ||
         urn == "urn:mpeg:hevc:2015:auxid:1";
}

}  // namespace

const THeifItem* THeifLayout::Item(std::uint32_t id) const {
  for (const THeifItem& item : Items)
    if (item.Id == id) return &item;
  return nullptr;
}

const THeifBox* THeifLayout::Property(const THeifItem& item, const char* type) const {
  for (const auto& [index, essential] : item.Properties)
    if (index < Properties.size() && Is(Properties[index].Type, type)) return &Properties[index];
  return nullptr;
}

namespace {

// The 'iloc' box: for each item stored in the file itself (construction method 0, data
// reference 0), where its first extent lies, kept only when it lies within the file.
void ReadLocations(const THeifBox& iloc, std::size_t size, THeifLayout& layout) {
  TSpan span(iloc.Body, iloc.Size);
  const auto version = static_cast<int>(span.Read(1));
  span.Skip(3);
  const auto sizes = static_cast<int>(span.Read(1));
  const auto more = static_cast<int>(span.Read(1));
  const int offsetBytes = sizes >> 4, lengthBytes = sizes & 15, baseBytes = more >> 4;
  const int indexBytes = version == 1 || version == 2 ? more & 15 : 0;
  const auto valid = [](int bytes) { return bytes == 0 || bytes == 4 || bytes == 8; };
  if (version > 2 || !valid(offsetBytes) || !valid(lengthBytes) || !valid(baseBytes) ||
      !valid(indexBytes))
    return;
  const std::uint64_t count = span.Read(version < 2 ? 2 : 4);
  for (std::uint64_t i = 0; i < count && !span.Failed(); ++i) {
    const auto id = static_cast<std::uint32_t>(span.Read(version < 2 ? 2 : 4));
    const std::uint64_t method = version == 0 ? 0 : span.Read(2) & 15;
    const std::uint64_t reference = span.Read(2);
    const std::uint64_t base = span.Read(baseBytes);
    const std::uint64_t extents = span.Read(2);
    for (std::uint64_t e = 0; e < extents && !span.Failed(); ++e) {
      span.Skip(static_cast<std::size_t>(indexBytes));
      const std::uint64_t offset = span.Read(offsetBytes);
      std::uint64_t length = span.Read(lengthBytes);
      if (e > 0 || span.Failed() || method != 0 || reference != 0) continue;
      // Sums of values read from the file: each checked against its size, never overflowing.
      if (base > size || offset > size - base) continue;
      const std::uint64_t start = base + offset;
      if (length == 0) length = size - start;  // the extent runs to the end of the file
      if (length > size - start) continue;
      layout.Locations.push_back(
          {id, static_cast<std::size_t>(start), static_cast<std::size_t>(length)});
    }
  }
}

}  // namespace

THeifLayout ReadHeifLayout(const std::uint8_t* data, std::size_t size) {
  THeifLayout layout;
  layout.Data = data;
  layout.Size = size;
  for (const THeifBox& top : BoxesIn(data, size, data)) {
    if (Is(top.Type, "moov")) layout.HasMovie = true;
    if (!Is(top.Type, "meta") || layout.HasMeta || top.Size < 4) continue;
    layout.HasMeta = true;
    const std::vector<THeifBox> meta = BoxesIn(top.Body + 4, top.Size - 4, data);
    if (const THeifBox* pitm = Find(meta, "pitm")) {
      TSpan span(pitm->Body, pitm->Size);
      const std::uint64_t version = span.Read(1);
      span.Skip(3);
      layout.PrimaryAt = static_cast<std::size_t>(span.Here() - data);
      layout.PrimaryBytes = version == 0 ? 2 : 4;
      const std::uint64_t id = span.Read(layout.PrimaryBytes);
      if (!span.Failed()) layout.Primary = static_cast<std::uint32_t>(id);
    }
    if (const THeifBox* iinf = Find(meta, "iinf")) ReadItemInfo(*iinf, data, layout);
    if (const THeifBox* iref = Find(meta, "iref")) ReadReferences(*iref, data, layout);
    if (const THeifBox* iloc = Find(meta, "iloc")) ReadLocations(*iloc, size, layout);
    if (const THeifBox* iprp = Find(meta, "iprp")) {
      const std::vector<THeifBox> properties = BoxesIn(iprp->Body, iprp->Size, data);
      if (const THeifBox* ipco = Find(properties, "ipco"))
        layout.Properties = BoxesIn(ipco->Body, ipco->Size, data);
      for (const THeifBox& box : properties)
        if (Is(box.Type, "ipma")) ReadAssociations(box, layout);
    }
  }
  return layout;
}

namespace {

// The items the primary picture is made from: itself, what it derives from ('dimg'), and so on,
// each once, to a bounded depth.
std::vector<std::uint32_t> ItemsOfPrimary(const THeifLayout& layout) {
  std::vector<std::uint32_t> items{layout.Primary};
  for (std::size_t at = 0; at < items.size() && items.size() < 4096; ++at)
    for (const THeifReference& reference : layout.References)
      if (reference.From == items[at] && Is(reference.Type, "dimg"))
        for (const std::uint32_t to : reference.To)
          if (std::find(items.begin(), items.end(), to) == items.end()) items.push_back(to);
  return items;
}

// Properties the decoder applies or that do not change what a picture shows.
bool Understood(const TFourCC& type) {
  static constexpr const char* kKnown[] = {"hvcC", "av1C", "ispe", "pixi", "colr", "irot",
                                           "imir", "clap", "auxC", "pasp", "lsel", "a1lx"};
  for (const char* known : kKnown)
    if (Is(type, known)) return true;
  return false;
}

}  // namespace

std::string UnsupportedPrimaryReason(const THeifLayout& layout) {
  if (!layout.HasMeta) return {};
  for (const std::uint32_t id : ItemsOfPrimary(layout)) {
    for (const THeifReference& reference : layout.References)
      if (reference.From == id && Is(reference.Type, "pred")) return "predicted-item";
    const THeifItem* item = layout.Item(id);
    if (item == nullptr) continue;
    for (const auto& [index, essential] : item->Properties)
      if (essential && index < layout.Properties.size() &&
          !Understood(layout.Properties[index].Type))
        return "unsupported-essential-property";
  }
  return {};
}

bool HoldsIdentityItem(const THeifLayout& layout) {
  return std::any_of(layout.Items.begin(), layout.Items.end(),
                     [](const THeifItem& item) { return Is(item.Type, "iden"); });
}

namespace {

void WriteBigEndian(std::vector<std::uint8_t>& bytes, std::size_t at, int width,
                    std::uint64_t value) {
  for (int i = width - 1; i >= 0; --i, value >>= 8)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint64_t ReadBigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i)
    value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
  return value;
}

std::uint32_t DerivedFrom(const THeifLayout& layout, std::uint32_t id) {
  for (const THeifReference& reference : layout.References)
    if (reference.From == id && Is(reference.Type, "dimg") && reference.To.size() == 1)
      return reference.To.front();
  return 0;
}

}  // namespace

TIdentityRewrite RewriteIdentityItems(const std::uint8_t* data, std::size_t size,
                                      const THeifLayout& layout) {
  TIdentityRewrite rewrite;
  if (!HoldsIdentityItem(layout) || layout.EntryCountBytes == 0) return rewrite;
  // The primary picture: down the chain of identity-derived items to a coded one, gathering each
  // one's transforms, the outermost's last.
  std::uint32_t primary = layout.Primary;
  std::vector<std::vector<THeifTransform>> chain;
  for (int depth = 0; depth < 8; ++depth) {
    const THeifItem* item = layout.Item(primary);
    if (item == nullptr || !Is(item->Type, "iden")) break;
    std::vector<THeifTransform> transforms;
    for (const auto& [index, essential] : item->Properties) {
      if (index >= layout.Properties.size()) continue;
      const THeifBox& property = layout.Properties[index];
      if (Is(property.Type, "irot") && property.Size >= 1) {
        transforms.push_back({false, property.Body[0] & 3, 0});
      } else if (Is(property.Type, "imir") && property.Size >= 1) {
        transforms.push_back({true, 0, property.Body[0] & 1});
      } else if (Is(property.Type, "clap")) {
        THeifTransform crop;
        crop.Crop = true;
        TSpan span(property.Body, property.Size);
        for (int i = 0; i < 8; ++i) {
          const std::uint64_t value = span.Read(4);
          // The offsets' numerators are signed; everything else unsigned.
          crop.Fractions[i] = (i == 4 || i == 6) ? static_cast<std::int32_t>(value)
                                                 : static_cast<std::int64_t>(value);
        }
        if (span.Failed()) {
          rewrite.Refusal = "identity-derived-item";
          return rewrite;
        }
        transforms.push_back(crop);
      }
    }
    chain.push_back(std::move(transforms));
    primary = DerivedFrom(layout, primary);
    if (primary == 0) {
      rewrite.Refusal = "identity-derived-item";
      return rewrite;
    }
  }
  const THeifItem* source = layout.Item(primary);
  if (source == nullptr || Is(source->Type, "iden")) {
    rewrite.Refusal = "identity-derived-item";
    return rewrite;
  }
  // A grid or overlay of the primary picture made of identity-derived items would lose its cells.
  const std::vector<std::uint32_t> used = ItemsOfPrimary(layout);
  for (const THeifReference& reference : layout.References) {
    if (!Is(reference.Type, "dimg") ||
        std::find(used.begin(), used.end(), reference.From) == used.end())
      continue;
    const THeifItem* from = layout.Item(reference.From);
    if (from == nullptr || Is(from->Type, "iden")) continue;
    for (const std::uint32_t to : reference.To) {
      const THeifItem* cell = layout.Item(to);
      if (cell != nullptr && Is(cell->Type, "iden")) {
        rewrite.Refusal = "identity-derived-cells";
        return rewrite;
      }
    }
  }
  rewrite.Bytes.assign(data, data + size);
  std::uint64_t count = ReadBigEndian(rewrite.Bytes, layout.EntryCountAt, layout.EntryCountBytes);
  for (const THeifItem& item : layout.Items) {
    if (!Is(item.Type, "iden")) continue;
    std::memcpy(rewrite.Bytes.data() + item.EntryStart + 4, "free", 4);
    if (count > 0) --count;
  }
  WriteBigEndian(rewrite.Bytes, layout.EntryCountAt, layout.EntryCountBytes, count);
  if (primary != layout.Primary) {
    if (layout.PrimaryBytes == 0 || (layout.PrimaryBytes == 2 && primary > 0xFFFF)) {
      rewrite.Refusal = "identity-derived-item";
      rewrite.Bytes.clear();
      return rewrite;
    }
    WriteBigEndian(rewrite.Bytes, layout.PrimaryAt, layout.PrimaryBytes, primary);
  }
  for (auto at = chain.rbegin(); at != chain.rend(); ++at)
    rewrite.Transforms.insert(rewrite.Transforms.end(), at->begin(), at->end());
  rewrite.Primary = primary;
  rewrite.Possible = true;
  return rewrite;
}

bool CropRectangle(const THeifTransform& crop, std::int64_t width, std::int64_t height,
                   std::int64_t rectangle[4]) {
  const std::int64_t* f = crop.Fractions;
  for (int i = 1; i < 8; i += 2)
    if (f[i] <= 0) return false;
  // Whole numbers of pixels to the nearest, and the left edge, in halves of a pixel over a
  // common denominator: ((width - 1) / 2 + offset) - (apertureWidth - 1) / 2, rounded down.
  const auto edge = [](std::int64_t size, std::int64_t offsetN, std::int64_t offsetD,
                       std::int64_t apertureN, std::int64_t apertureD) -> std::int64_t {
    const long double value = (static_cast<long double>(size) - 1) / 2 +
                              static_cast<long double>(offsetN) / offsetD -
                              (static_cast<long double>(apertureN) / apertureD - 1) / 2;
    return static_cast<std::int64_t>(std::floor(value));
  };
  const auto whole = [](std::int64_t n, std::int64_t d) {
    return static_cast<std::int64_t>(std::floor(static_cast<long double>(n) / d + 0.5L));
  };
  rectangle[0] = edge(width, f[4], f[5], f[0], f[1]);
  rectangle[1] = edge(height, f[6], f[7], f[2], f[3]);
  rectangle[2] = whole(f[0], f[1]);
  rectangle[3] = whole(f[2], f[3]);
  return rectangle[2] > 0 && rectangle[3] > 0 && rectangle[0] >= 0 && rectangle[1] >= 0 &&
         rectangle[2] <= width - rectangle[0] && rectangle[3] <= height - rectangle[1];
}

THeifRange RangeOfItem(const THeifLayout& layout, std::uint32_t id) {
  for (int depth = 0; depth < 8; ++depth) {
    const THeifItem* item = layout.Item(id);
    if (item == nullptr) return {};
    THeifRange range;
    if (const THeifBox* av1C = layout.Property(*item, "av1C")) {
      const auto located =
          std::find_if(layout.Locations.begin(), layout.Locations.end(),
                       [id](const THeifLocation& location) { return location.Id == id; });
      range = RangeOfAv1C(*av1C, located == layout.Locations.end() ? nullptr : &*located, layout);
    } else if (const THeifBox* hvcC = layout.Property(*item, "hvcC")) {
      range = RangeOfHvcC(*hvcC);
    } else {
      // A derived item: the first item it is made from.
      std::uint32_t next = 0;
      for (const THeifReference& reference : layout.References)
        if (reference.From == id && Is(reference.Type, "dimg") && !reference.To.empty()) {
          next = reference.To.front();
          break;
        }
      if (next == 0) return {};
      id = next;
      continue;
    }
    for (const auto& [index, essential] : item->Properties) {
      if (index >= layout.Properties.size()) continue;
      const THeifBox& colr = layout.Properties[index];
      if (!Is(colr.Type, "colr") || colr.Size < 11 || std::memcmp(colr.Body, "nclx", 4) != 0)
        continue;
      range.Known = true;
      range.Limited = (colr.Body[10] & 0x80) == 0;
      break;
    }
    return range;
  }
  return {};
}

std::uint32_t AlphaItemOf(const THeifLayout& layout, std::uint32_t primary) {
  for (const THeifReference& reference : layout.References) {
    if (!Is(reference.Type, "auxl") ||
        std::find(reference.To.begin(), reference.To.end(), primary) == reference.To.end())
      continue;
    const THeifItem* item = layout.Item(reference.From);
    if (item == nullptr) continue;
    const THeifBox* auxC = layout.Property(*item, "auxC");
    if (auxC != nullptr && IsAlphaType(*auxC)) return item->Id;
  }
  return 0;
}

std::uint16_t LimitedTo16Bits(std::uint32_t sample, int bits) {
  const int shift = std::clamp(bits, 8, 16) - 8;
  const std::int64_t black = std::int64_t{16} << shift;
  const std::int64_t span = std::int64_t{219} << shift;
  const std::int64_t value = (static_cast<std::int64_t>(sample) - black) * 65535;
  const std::int64_t rounded =
      value >= 0 ? (value + span / 2) / span : -((-value + span / 2) / span);
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(rounded, 0, 65535));
}

}  // namespace penamo::formats
