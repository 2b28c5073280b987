// kelmimg: create, check, inspect, decipher and encipher image files from a
// command line, with the same core as the configuration program's Create.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/fatimage.h"
#include "common/textutil.h"

#ifdef _WIN32
#include <io.h>
#define KELM_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define KELM_ISATTY(fd) isatty(fd)
#endif

namespace {

using namespace kelm;

// Exit codes.
constexpr int kOk = 0;
constexpr int kNo = 1;        // the password does not open the image
constexpr int kUsage = 2;     // bad command line, size out of range, refused key
constexpr int kFileError = 3; // missing file, not an image, read or write failure

const char kUsageText[] =
    "usage:\n"
    "  kelmimg create --size S [--password P] [--force] [--no-sync] FILE\n"
    "  kelmimg check --password P FILE\n"
    "  kelmimg info FILE [--password P]\n"
    "  kelmimg decipher --password P IN OUT\n"
    "  kelmimg encipher --password P IN OUT\n"
    "S is the volume size in MB, 33 to 4094 (the file is S + 3 MB).\n"
    "Only the first 8 characters of a password count. --no-sync skips the\n"
    "final flush to the disk (scratch images, benchmarks).\n"
    "exit codes: 0 done, 1 wrong password, 2 bad arguments, 3 file error\n";

const char kRefusedText[] = "This password can not be used, please choose another one.";

int Fail(int code, const char* what, const char* detail = nullptr) {
  if (detail)
    std::fprintf(stderr, "kelmimg: %s: %s\n", what, detail);
  else
    std::fprintf(stderr, "kelmimg: %s\n", what);
  return code;
}

struct Args {
  const char* command = nullptr;
  const char* password = nullptr;
  const char* size = nullptr;
  bool force = false;
  bool sync = true;
  const char* files[2] = {};
  int fileCount = 0;
  bool ok = true;
};

Args Parse(int argc, char** argv) {
  Args a;
  if (argc < 2) {
    a.ok = false;
    return a;
  }
  a.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--password") == 0 || std::strcmp(arg, "--size") == 0) {
      if (i + 1 >= argc) {
        a.ok = false;
        return a;
      }
      (arg[2] == 'p' ? a.password : a.size) = argv[++i];
    } else if (std::strcmp(arg, "--force") == 0) {
      a.force = true;
    } else if (std::strcmp(arg, "--no-sync") == 0) {
      a.sync = false;
    } else if (arg[0] == '-' && arg[1] == '-') {
      a.ok = false;
      return a;
    } else if (a.fileCount < 2) {
      a.files[a.fileCount++] = arg;
    } else {
      a.ok = false;
      return a;
    }
  }
  return a;
}

// A bar on stderr when it is a terminal; silent otherwise.
struct TerminalBar {
  bool enabled = KELM_ISATTY(2) != 0;
  int lastShown = -1;
  const char* label = "";
};

void ShowProgress(void* context, std::uint32_t position, std::uint32_t range) {
  auto* bar = static_cast<TerminalBar*>(context);
  if (!bar->enabled || range == 0) return;
  const int percent = static_cast<int>(static_cast<std::uint64_t>(position) * 100u / range);
  if (percent == bar->lastShown) return;
  bar->lastShown = percent;
  char cells[41];
  const int filled = percent * 40 / 100;
  for (int i = 0; i < 40; ++i) cells[i] = i < filled ? '#' : '.';
  cells[40] = '\0';
  std::fprintf(stderr, "\r%s [%s] %3d%% %u/%u MB", bar->label, cells, percent, position, range);
  if (position == range) std::fputc('\n', stderr);
  std::fflush(stderr);
}

// The output goes to a temporary name and is renamed at the end, so a failed
// run never leaves a file that looks like a finished image.
class TempOutput {
 public:
  explicit TempOutput(const char* finalPath) : final_(finalPath), temp_(std::string(finalPath) + ".kelmimg-tmp") {}
  ~TempOutput() {
    file_.reset();
    if (!committed_) RemoveImageFile(temp_.c_str());
  }
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  ImageFile* Open() {
    file_ = OpenImageFile(temp_.c_str(), ImageOpen::Create);
    return file_.get();
  }
  bool Commit(bool sync = true) {
    const bool synced = !sync || file_->Sync();
    file_.reset();
    if (!synced || !ReplaceImageFile(temp_.c_str(), final_.c_str())) return false;
    committed_ = true;
    return true;
  }
  const char* temp() const { return temp_.c_str(); }

 private:
  std::string final_;
  std::string temp_;
  std::unique_ptr<ImageFile> file_;
  bool committed_ = false;
};

std::uint32_t NewSerial() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto tick = std::chrono::steady_clock::now().time_since_epoch();
  return MakeVolumeSerial(static_cast<std::uint64_t>(now.count()),
                          static_cast<std::uint32_t>(tick.count()));
}

bool ValidSizeText(const char* text) {
  if (!text || !*text) return false;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return std::strlen(text) <= 9;
}

int Create(const Args& a) {
  if (a.fileCount != 1 || !a.size) return Fail(kUsage, "create needs --size S and one FILE");
  if (!ValidSizeText(a.size)) return Fail(kUsage, "size is not a number", a.size);
  const std::uint32_t size = ParseDecimal(a.size);
  if (size < kMinImageMb || size > kMaxImageMbNt)
    return Fail(kUsage, "size out of range (33 to 4094 MB)", a.size);
  const char* password = a.password ? a.password : "";
  const SectorCipher cipher(password);
  if (cipher.refused()) return Fail(kUsage, kRefusedText);
  const char* path = a.files[0];
  if (PathExists(path) && !a.force)
    return Fail(kFileError, "file exists (use --force to replace it)", path);

  FatGeometry g;
  if (!ComputeGeometry(size, g)) return Fail(kUsage, "size out of range", a.size);
  TempOutput out(path);
  ImageFile* file = out.Open();
  if (!file) return Fail(kFileError, "cannot create", out.temp());
  TerminalBar bar;
  bar.label = "create";
  if (!FillImage(*file, cipher, size + kTailMb - 1, ShowProgress, &bar))
    return Fail(kFileError, "write failed (disk full?)", out.temp());
  const std::uint32_t serial = NewSerial();
  if (!FormatImage(*file, g, cipher, serial)) return Fail(kFileError, "format failed", out.temp());
  if (!out.Commit(a.sync)) return Fail(kFileError, "cannot finish", path);
  std::printf("%s: FAT%d, %u MB, %u sectors per cluster, %s\n", path, g.fatType, size,
              g.sectorsPerCluster, cipher.enciphers() ? "enciphered" : "not enciphered");
  return kOk;
}

int Check(const Args& a) {
  if (a.fileCount != 1 || !a.password) return Fail(kUsage, "check needs --password P and one FILE");
  auto file = OpenImageFile(a.files[0], ImageOpen::Read);
  if (!file) return Fail(kFileError, "cannot open", a.files[0]);
  if (!CheckImagePassword(*file, a.password)) return Fail(kNo, "the password does not open", a.files[0]);
  std::printf("%s: the password opens it\n", a.files[0]);
  return kOk;
}

// ECB over zeros: every block of an empty sector looks the same.
bool LooksEnciphered(ImageFile& file) {
  std::uint8_t s[512];
  if (!file.ReadAt(2 * kSectorSize, s, sizeof s)) return false;
  bool allZero = true;
  for (std::size_t i = 0; i < sizeof s; ++i) allZero = allZero && s[i] == 0;
  if (allZero) return false;
  for (std::size_t i = 8; i < sizeof s; i += 8)
    if (std::memcmp(s, s + i, 8) != 0) return false;
  return true;
}

int Info(const Args& a) {
  if (a.fileCount != 1) return Fail(kUsage, "info needs one FILE");
  const char* path = a.files[0];
  auto file = OpenImageFile(path, ImageOpen::Read);
  if (!file) return Fail(kFileError, "cannot open", path);
  std::uint64_t length = 0;
  std::uint8_t s[512];
  if (!file->Length(length) || length < kSectorSize || !file->ReadAt(0, s, sizeof s))
    return Fail(kFileError, "not an image (too short)", path);

  FatGeometry g;
  std::uint32_t serial = 0;
  const char* enciphered = "no";
  if (!ParseBootSector(s, g, serial)) {
    const bool looks = LooksEnciphered(*file);
    if (!a.password || !*a.password) {
      if (!looks) return Fail(kFileError, "not an image", path);
      std::printf("file: %s\nfile length: %llu bytes\nenciphered: yes (give --password to read the volume)\n",
                  path, static_cast<unsigned long long>(length));
      return kOk;
    }
    const SectorCipher cipher(a.password);
    if (cipher.refused()) return Fail(kUsage, kRefusedText);
    cipher.Decipher(s, sizeof s);
    if (!ParseBootSector(s, g, serial))
      return Fail(looks ? kNo : kFileError, looks ? "the password does not open" : "not an image", path);
    enciphered = "yes";
  }
  std::printf("file: %s\nfile length: %llu bytes\nenciphered: %s\n", path,
              static_cast<unsigned long long>(length), enciphered);
  std::printf("FAT type: FAT%d\nvolume: %u sectors", g.fatType, g.totSec);
  if (g.sizeMb) std::printf(" (%u MB)", g.sizeMb);
  std::printf("\nsectors per cluster: %u\nreserved sectors: %u\nFAT size: %u sectors\ncluster count: %u\n",
              g.sectorsPerCluster, g.reservedSectors, g.fatSize, g.clusterCount);
  std::printf("volume serial: %04X-%04X\n", serial >> 16, serial & 0xFFFFu);
  FatGeometry ours;
  const bool kelmLayout = g.sizeMb && ComputeGeometry(g.sizeMb, ours) && ours.fatType == g.fatType &&
                          ours.fatSize == g.fatSize && ours.sectorsPerCluster == g.sectorsPerCluster &&
                          ours.reservedSectors == g.reservedSectors && length == ours.fileLength;
  std::printf("layout: %s\n", kelmLayout ? "kelm image" : "other FAT volume");
  return kOk;
}

// Whole images, 1 MB at a time, through the sector cipher.
int Transcode(const Args& a, bool encipher) {
  const char* verb = encipher ? "encipher" : "decipher";
  if (a.fileCount != 2 || !a.password) {
    std::fprintf(stderr, "kelmimg: %s needs --password P, IN and OUT\n", verb);
    return kUsage;
  }
  if (!*a.password) return Fail(kUsage, "the password is empty: nothing to do");
  const SectorCipher cipher(a.password);
  if (cipher.refused()) return Fail(kUsage, kRefusedText);
  auto in = OpenImageFile(a.files[0], ImageOpen::Read);
  if (!in) return Fail(kFileError, "cannot open", a.files[0]);
  std::uint64_t length = 0;
  std::uint8_t s[512];
  if (!in->Length(length) || length < kSectorSize || length % kSectorSize != 0 ||
      !in->ReadAt(0, s, sizeof s))
    return Fail(kFileError, "not an image (length is not whole sectors)", a.files[0]);
  if (encipher) {
    if (!LooksLikeBootSector(s)) return Fail(kFileError, "not a plain FAT image", a.files[0]);
  } else {
    cipher.Decipher(s, sizeof s);
    if (!LooksLikeBootSector(s)) {
      std::uint8_t plain[512];
      const bool isPlain = in->ReadAt(0, plain, sizeof plain) && LooksLikeBootSector(plain);
      return Fail(isPlain ? kFileError : kNo,
                  isPlain ? "not enciphered (a plain image)" : "the password does not open", a.files[0]);
    }
  }

  std::unique_ptr<std::uint8_t[]> buf(new (std::nothrow) std::uint8_t[kMb]);
  if (!buf) return Fail(kFileError, "out of memory");
  TempOutput out(a.files[1]);
  ImageFile* file = out.Open();
  if (!file) return Fail(kFileError, "cannot create", out.temp());
  TerminalBar bar;
  bar.label = verb;
  const std::uint32_t totalMb = static_cast<std::uint32_t>((length + kMb - 1) / kMb);
  for (std::uint64_t off = 0; off < length; off += kMb) {
    const std::size_t n = static_cast<std::size_t>(length - off < kMb ? length - off : kMb);
    if (!in->ReadAt(off, buf.get(), n)) return Fail(kFileError, "read failed", a.files[0]);
    if (encipher)
      cipher.Encipher(buf.get(), n);
    else
      cipher.Decipher(buf.get(), n);
    if (!file->WriteAt(off, buf.get(), n)) return Fail(kFileError, "write failed (disk full?)", out.temp());
    ShowProgress(&bar, static_cast<std::uint32_t>(off / kMb) + 1, totalMb);
  }
  in.reset();
  if (!out.Commit()) return Fail(kFileError, "cannot finish", a.files[1]);
  std::printf("%s: %llu bytes %sed\n", a.files[1], static_cast<unsigned long long>(length), verb);
  return kOk;
}

int Run(int argc, char** argv) {
  const Args a = Parse(argc, argv);
  if (!a.ok || !a.command) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  const std::string cmd = a.command;
  if (cmd == "create") return Create(a);
  if (cmd == "check") return Check(a);
  if (cmd == "info") return Info(a);
  if (cmd == "decipher") return Transcode(a, false);
  if (cmd == "encipher") return Transcode(a, true);
  if (cmd == "--help" || cmd == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  std::fputs(kUsageText, stderr);
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {
    std::fputs("kelmimg: out of memory\n", stderr);
    return kFileError;
  }
}
