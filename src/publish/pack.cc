#include "publish/pack.h"

#include <zip.h>
#include <zlib.h>
#ifdef _WIN32
#include <iowin32.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "base/text.h"
#include "platform/crc32.h"
#include "platform/fs.h"
#include "platform/md5.h"
#include "platform/sha256.h"
#include "publish/list_format.h"

namespace publish {
namespace {

using platform::errnoText;

constexpr size_t kChunk = 256 * 1024;

// Host 0 (MS-DOS) and zip 2.0: the launcher then takes the member's DOS
// attributes, here only "archive", so installed files stay writable.
constexpr uLong kVersionMadeBy = 20;
constexpr uLong kArchiveAttribute = 0x20;

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Chunks whose bytes are this close to uniformly random (bits per byte) are
// coded with Huffman codes only: string matching finds nothing in them, and
// it costs three times the time. The choice depends only on the bytes, so
// the output stays the same from run to run.
constexpr double kRandomEntropy = 7.9;

bool looksRandom(const unsigned char* p, size_t n) {
  if (n < 4096) return false;
  size_t count[256] = {};
  for (size_t i = 0; i < n; ++i) ++count[p[i]];
  double bits = 0;
  for (size_t c : count)
    if (c) bits -= static_cast<double>(c) * std::log2(static_cast<double>(c) / static_cast<double>(n));
  return bits / static_cast<double>(n) > kRandomEntropy;
}

// Input in chunks, from a file or from memory; can be read again.
class Input {
 public:
  virtual ~Input() = default;
  // false on a read error (message set); *got == 0 at the end.
  virtual bool read(unsigned char* buf, size_t cap, size_t* got, std::string* error) = 0;
  virtual bool rewind(std::string* error) = 0;
  // Bytes expected, known before the first read.
  virtual uint64_t size() const = 0;
};

// Zip64 records only where a size may not fit 32 bits (deflate can grow
// data that does not compress, by far less than this margin), so every
// smaller archive keeps the classic form byte for byte.
bool needsZip64(uint64_t size) { return size + (size >> 10) + 65536 >= 0xFFFFFFFFull; }

class FileInput : public Input {
 public:
  explicit FileInput(std::string path) : path_(std::move(path)), f_(nullptr, std::fclose) {}
  bool open(std::string* error) {
    f_.reset(std::fopen(path_.c_str(), "rb"));
    if (!f_) {
      *error = "cannot open " + path_ + ": " + errnoText();
      return false;
    }
    std::setvbuf(f_.get(), nullptr, _IONBF, 0);
    size_ = platform::pathInfo(path_).size;
    return true;
  }
  uint64_t size() const override { return size_; }
  bool read(unsigned char* buf, size_t cap, size_t* got, std::string* error) override {
    *got = std::fread(buf, 1, cap, f_.get());
    if (*got == 0 && std::ferror(f_.get())) {
      *error = "cannot read " + path_ + ": " + errnoText();
      return false;
    }
    return true;
  }
  bool rewind(std::string* error) override {
    if (std::fseek(f_.get(), 0, SEEK_SET) != 0) {
      *error = "cannot read " + path_ + " again: " + errnoText();
      return false;
    }
    std::clearerr(f_.get());
    return true;
  }

 private:
  std::string path_;
  FilePtr f_;
  uint64_t size_ = 0;
};

class MemoryInput : public Input {
 public:
  explicit MemoryInput(const std::string& bytes) : bytes_(bytes) {}
  bool read(unsigned char* buf, size_t cap, size_t* got, std::string*) override {
    *got = std::min(cap, bytes_.size() - pos_);
    std::memcpy(buf, bytes_.data() + pos_, *got);
    pos_ += *got;
    return true;
  }
  bool rewind(std::string*) override {
    pos_ = 0;
    return true;
  }
  uint64_t size() const override { return bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

// "UT" extended timestamp with the modification time only; the same block in
// the local header and the central directory.
std::vector<unsigned char> timeExtra(int64_t stamp) {
  if (stamp < 0 || stamp > 0x7fffffff) return {};  // does not fit the field
  uint32_t t = static_cast<uint32_t>(stamp);
  return {'U', 'T', 5, 0, 1, static_cast<unsigned char>(t), static_cast<unsigned char>(t >> 8),
          static_cast<unsigned char>(t >> 16), static_cast<unsigned char>(t >> 24)};
}

// One archive being written, member data supplied raw (already deflated or
// stored).
class ZipOut {
 public:
  ZipOut(const std::string& target, std::string* error) : target_(target), error_(error) {}
  ~ZipOut() {
    if (zf_) zipClose(zf_, nullptr);
  }

  bool begin(const std::string& member, int64_t stamp, bool deflated, int level, bool zip64) {
#ifdef _WIN32
    // minizip's stdio functions pass offsets through zlib's z_off64_t, a
    // 32-bit long with mingw: past 4 GiB its seeks fail or land short. Win32
    // handles take the whole offset.
    zlib_filefunc64_def io;
    fill_win32_filefunc64A(&io);
    zf_ = zipOpen2_64(target_.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
#else
    zf_ = zipOpen64(target_.c_str(), APPEND_STATUS_CREATE);
#endif
    if (!zf_) return fail("cannot create");
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    info.dosDate = dosDateTime(stamp);
    info.external_fa = kArchiveAttribute;
    std::vector<unsigned char> extra = timeExtra(stamp);
    const void* ex = extra.empty() ? nullptr : extra.data();
    int err = zipOpenNewFileInZip4_64(zf_, member.c_str(), &info, ex, static_cast<uInt>(extra.size()), ex,
                                      static_cast<uInt>(extra.size()), nullptr, deflated ? Z_DEFLATED : 0,
                                      deflated ? level : 0, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
                                      kVersionMadeBy, 0, zip64 ? 1 : 0);
    if (err != ZIP_OK) return fail("cannot write");
    return true;
  }

  bool write(const void* data, size_t size) {
    if (size == 0) return true;
    if (zipWriteInFileInZip(zf_, data, static_cast<unsigned>(size)) != ZIP_OK) return fail("cannot write");
    return true;
  }

  bool finish(uint64_t uncompressedSize, uLong crc) {
    int err = zipCloseFileInZipRaw64(zf_, uncompressedSize, crc);
    int closeErr = zipClose(zf_, nullptr);
    zf_ = nullptr;
    if (err != ZIP_OK || closeErr != ZIP_OK) return fail("cannot write");
    return true;
  }

 private:
  bool fail(const char* what) {
    if (error_->empty()) *error_ = std::string(what) + " " + target_ + ": " + errnoText();
    return false;
  }
  std::string target_;
  std::string* error_;
  zipFile zf_ = nullptr;
};

bool sizeOf(const std::string& path, uint64_t* size, std::string* error) {
  platform::PathInfo info = platform::pathInfo(path);
  if (info.kind != platform::PathKind::File) {
    *error = "cannot read back " + path;
    return false;
  }
  *size = info.size;
  return true;
}

// Second pass for a member that deflate does not shrink.
bool writeStored(Input& in, const std::string& member, int64_t stamp, const std::string& target, uint64_t size,
                 uLong crc, std::string* error) {
  if (!in.rewind(error)) return false;
  ZipOut zip(target, error);
  if (!zip.begin(member, stamp, false, 0, needsZip64(std::max(size, in.size())))) return false;
  std::vector<unsigned char> buf(kChunk);
  uint32_t crcAgain = 0;
  uint64_t total = 0;
  for (;;) {
    size_t got;
    if (!in.read(buf.data(), buf.size(), &got, error)) return false;
    if (got == 0) break;
    crcAgain = platform::crc32Update(crcAgain, buf.data(), got);
    total += got;
    if (!zip.write(buf.data(), got)) return false;
  }
  if (total != size || crcAgain != crc) {
    *error = "the input changed while it was being packed into " + target;
    return false;
  }
  return zip.finish(size, crc);
}

bool pack(const platform::Md5Provider& provider, Input& in, const std::string& displayName, const std::string& member,
          int64_t stamp, int level, const std::string& target, PackResult* result, std::string* error,
          const ByteCounter& counter) {
  if (level < 0 || level > 9) {
    *error = "compression level must be 0 to 9";
    return false;
  }
  platform::Md5 md5(provider);
  uint32_t crc = 0;
  uint64_t size = 0;
  std::vector<unsigned char> inBuf(kChunk);
  std::vector<unsigned char> outBuf(kChunk);
  uint64_t compressed = 0;

  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  bool tryDeflate = level > 0;
  if (tryDeflate && deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    *error = "cannot start compression for " + displayName;
    return false;
  }
  struct DeflateEnd {
    z_stream* zs;
    bool active;
    ~DeflateEnd() {
      if (active) deflateEnd(zs);
    }
  } deflateEnd_{&zs, tryDeflate};

  ZipOut zip(target, error);
  if (tryDeflate && !zip.begin(member, stamp, true, level, needsZip64(in.size()))) return false;
  auto drain = [&](int flush) {
    do {
      zs.next_out = outBuf.data();
      zs.avail_out = static_cast<uInt>(outBuf.size());
      int rc = deflate(&zs, flush);
      if (rc == Z_STREAM_ERROR) {
        *error = "compression failed for " + displayName;
        return false;
      }
      size_t produced = outBuf.size() - zs.avail_out;
      compressed += produced;
      if (!zip.write(outBuf.data(), produced)) return false;
    } while (zs.avail_out == 0);
    return true;
  };

  int strategy = Z_DEFAULT_STRATEGY;
  // Switches the strategy between chunks; zlib ends the current block first.
  auto setStrategy = [&](int wanted) {
    if (wanted == strategy) return true;
    strategy = wanted;
    for (;;) {
      zs.next_out = outBuf.data();
      zs.avail_out = static_cast<uInt>(outBuf.size());
      int rc = deflateParams(&zs, level, strategy);
      size_t produced = outBuf.size() - zs.avail_out;
      compressed += produced;
      if (!zip.write(outBuf.data(), produced)) return false;
      if (rc == Z_OK) return true;
      if (rc != Z_BUF_ERROR) {
        *error = "compression failed for " + displayName;
        return false;
      }
    }
  };

  for (;;) {
    size_t got;
    if (!in.read(inBuf.data(), inBuf.size(), &got, error)) return false;
    if (got == 0) break;
    md5.update(inBuf.data(), got);
    crc = platform::crc32Update(crc, inBuf.data(), got);
    size += got;
    if (tryDeflate) {
      if (!setStrategy(looksRandom(inBuf.data(), got) ? Z_HUFFMAN_ONLY : Z_DEFAULT_STRATEGY)) return false;
      zs.next_in = inBuf.data();
      zs.avail_in = static_cast<uInt>(got);
      if (!drain(Z_NO_FLUSH)) return false;
    }
    if (counter) counter(got);
  }
  if (tryDeflate && !drain(Z_FINISH)) return false;

  result->md5 = md5.finalHex();
  if (result->md5.empty()) {
    *error = "cannot compute the MD5 of " + displayName;
    return false;
  }
  result->size = size;
  result->deflated = tryDeflate && compressed < size;
  if (result->deflated) {
    if (!zip.finish(size, crc)) return false;
  } else {
    if (tryDeflate && !zip.finish(size, crc)) return false;  // closes the file before it is rewritten
    if (!writeStored(in, member, stamp, target, size, crc, error)) return false;
  }
  return sizeOf(target, &result->outputSize, error);
}

}  // namespace

bool packFile(const platform::Md5Provider& md5, const std::string& source, const std::string& memberName, int64_t stamp,
              int level, const std::string& target, PackResult* result, std::string* error,
              const ByteCounter& counter) {
  FileInput in(source);
  if (!in.open(error)) return false;
  return pack(md5, in, source, memberName, stamp, level, target, result, error, counter);
}

bool packBytes(const platform::Md5Provider& md5, const std::string& bytes, const std::string& memberName, int64_t stamp,
               int level, const std::string& target, PackResult* result, std::string* error) {
  MemoryInput in(bytes);
  return pack(md5, in, memberName, memberName, stamp, level, target, result, error, {});
}

namespace {

// Reads source whole, hashing and counting it; each chunk also goes to sink
// when there is one (a false from it stops the read).
bool streamFile(const platform::Md5Provider& provider, const std::string& source, PackResult* result,
                std::string* error, const ByteCounter& counter,
                const std::function<bool(const unsigned char*, size_t)>& sink, platform::Sha256* sha256 = nullptr) {
  FileInput in(source);
  if (!in.open(error)) return false;
  platform::Md5 md5(provider);
  std::vector<unsigned char> buf(kChunk);
  uint64_t size = 0;
  for (;;) {
    size_t got;
    if (!in.read(buf.data(), buf.size(), &got, error)) return false;
    if (got == 0) break;
    md5.update(buf.data(), got);
    if (sha256) sha256->update(buf.data(), got);
    size += got;
    if (sink && !sink(buf.data(), got)) return false;
    if (counter) counter(got);
  }
  result->md5 = md5.finalHex();
  if (result->md5.empty()) {
    *error = "cannot compute the MD5 of " + source;
    return false;
  }
  result->size = size;
  return true;
}

}  // namespace

bool copyFile(const platform::Md5Provider& md5, const std::string& source, const std::string& target,
              PackResult* result, std::string* error, const ByteCounter& counter) {
  FilePtr out(std::fopen(target.c_str(), "wb"), std::fclose);
  if (!out) {
    *error = "cannot create " + target + ": " + errnoText();
    return false;
  }
  auto write = [&](const unsigned char* data, size_t n) {
    if (std::fwrite(data, 1, n, out.get()) == n) return true;
    *error = "cannot write " + target + ": " + errnoText();
    return false;
  };
  // The copy is what is served: its SHA-256 comes from the same pass.
  platform::Sha256 sha256;
  if (!streamFile(md5, source, result, error, counter, write, &sha256)) return false;
  if (std::fclose(out.release()) != 0) {
    *error = "cannot write " + target + ": " + errnoText();
    return false;
  }
  platform::Sha256Digest digest;
  if (!sha256.final(&digest)) {
    *error = "cannot compute the SHA-256 of " + source;
    return false;
  }
  result->sha256 = tvl::toHexLower(digest.data(), digest.size());
  result->outputSize = result->size;
  result->deflated = false;
  return true;
}

bool hashFile(const platform::Md5Provider& md5, const std::string& source, PackResult* result, std::string* error,
              const ByteCounter& counter) {
  return streamFile(md5, source, result, error, counter, nullptr);
}

bool writeWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  FilePtr out(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!out) {
    *error = "cannot create " + path + ": " + errnoText();
    return false;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size() || std::fclose(out.release()) != 0) {
    *error = "cannot write " + path + ": " + errnoText();
    return false;
  }
  return true;
}

bool readWholeFile(const std::string& path, std::string* bytes) {
  FilePtr in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!in) return false;
  bytes->clear();
  char buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, in.get())) > 0) bytes->append(buf, got);
  return !std::ferror(in.get());
}

}  // namespace publish
