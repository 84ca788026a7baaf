// The pieces of the update and upload that need no network: base64, the check
// value, the answer checks, the package kinds and the allowed-host rule.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "core/PerSocketContext.h"
#include "platform/process_facts.h"
#include "service/BusUpdate.h"
#include "service/RemoteService.h"
#include "service/Unrar.h"
#include "service/Unzip.h"
#include "service/UpdateHosts.h"
#include "tests/service/support/test_remote.h"
#include "tests/support/file_util.h"
#include "tests/support/process_util.h"

namespace {

TEST(Base64Decode, BothAlphabetsPaddingAndFailures) {
  struct Case {
    const char* in;
    const char* out;
  } ok[] = {
      {"", ""},           {"YWJj", "abc"},     {"YWI=", "ab"},      {"YWI.", "ab"},
      {"YWI", "ab"},      {"YQ==", "a"},       {"YQ..", "a"},       {"YQ", "a"},
      {"YQ==YWJj", "aabc"}, {"-_-_", "\xfb\xff\xbf"}, {"+/+/", "\xfb\xff\xbf"},
  };
  for (const Case& c : ok) {
    std::string bytes, error;
    EXPECT_TRUE(Base64Decode(c.in, &bytes, &error)) << c.in << ": " << error;
    EXPECT_EQ(bytes, c.out) << c.in;
  }
  struct Bad {
    const char* in;
    const char* error;
  } bad[] = {
      {"Y", "invalid string position"},
      {"YWJjZ", "invalid string position"},
      {"YW Jj", "Input is not valid base64-encoded data."},
      {"YW\nj", "Input is not valid base64-encoded data."},
      {"=WJj", "Input is not valid base64-encoded data."},
      {"YW*j", "Input is not valid base64-encoded data."},
  };
  for (const Bad& c : bad) {
    std::string bytes, error;
    EXPECT_FALSE(Base64Decode(c.in, &bytes, &error)) << c.in;
    EXPECT_EQ(error, c.error) << c.in;
  }
}

TEST(VersionCheck, Md5OfPrefixTimeAndFirstAddress) {
  EXPECT_EQ(Md5Hex("abc", 3), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(Md5Hex("", 0), "D41D8CD98F00B204E9800998ECF8427E");
  const std::string text = "KWRM_20240101_https://h/p.zip";
  std::string lower = Md5Hex(text.data(), text.size());
  for (char& c : lower) c = static_cast<char>(tolower(c));
  EXPECT_EQ(CBusUpdate::VersionCheckValue("20240101", "https://h/p.zip"), lower);
}

std::string Reply(const std::string& code, const std::string& sfsj, const std::string& xzdz,
                  const std::string& jym) {
  return "{\"code\":\"" + code + "\",\"msg\":\"m\",\"sfsj\":\"" + sfsj + "\",\"xzdz\":\"" + xzdz +
         "\",\"xzdz_1\":\"\",\"xzdz_2\":\"\",\"jym\":\"" + jym + "\",\"dqsj\":\"t\"}";
}

TEST(CheckVersionInfo, EveryFailureText) {
  const std::string good = CBusUpdate::VersionCheckValue("t", "https://h/p.zip");
  std::string upper = good;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  const std::string bad = "服务端返回的版本信息数据格式不合法";
  struct Case {
    std::string reply;
    std::string message;  // "" = passes
  } cases[] = {
      {Reply("00", "Y", "https://h/p.zip", good), ""},
      {Reply("00", "Y", "https://h/p.zip", upper), ""},
      {"{\"CODE\":\"00\",\"Msg\":\"\",\"sfsj\":\"Y\",\"xzdz\":\"\",\"xzdz_1\":\"x\",\"xzdz_2\":\"\","
       "\"jym\":\"" + CBusUpdate::VersionCheckValue("t", "") + "\",\"dqsj\":\"t\"}", ""},
      {"not json", bad},
      {"{\"code\":0,\"msg\":\"m\"}", bad + "：code"},
      {"{\"code\":\"00\"}", bad + "：msg"},
      {"{\"code\":\"01\",\"msg\":\"停止服务\"}", "停止服务"},
      {"{\"code\":\"00\",\"msg\":\"m\"}", bad + "：sfsj"},
      {Reply("00", "N", "https://h/p.zip", good), "服务端禁止升级"},
      {"{\"code\":\"00\",\"msg\":\"m\",\"sfsj\":\"Y\"}", bad + "：xzdz"},
      {"{\"code\":\"00\",\"msg\":\"m\",\"sfsj\":\"Y\",\"xzdz\":\"\"}", bad + "：xzdz_1"},
      {"{\"code\":\"00\",\"msg\":\"m\",\"sfsj\":\"Y\",\"xzdz\":\"\",\"xzdz_1\":\"\"}", bad + "：xzdz_2"},
      {Reply("00", "Y", "", good), "自动升级资源下载地址为空"},
      {"{\"code\":\"00\",\"msg\":\"m\",\"sfsj\":\"Y\",\"xzdz\":\"a\",\"xzdz_1\":\"\",\"xzdz_2\":\"\"}",
       bad + "：jym"},
      {"{\"code\":\"00\",\"msg\":\"m\",\"sfsj\":\"Y\",\"xzdz\":\"a\",\"xzdz_1\":\"\",\"xzdz_2\":\"\","
       "\"jym\":\"x\"}", bad + "：dqsj"},
      {Reply("00", "Y", "https://h/other.zip", good), "版本信息校验失败"},
  };
  for (const Case& c : cases) {
    std::string a, b, d, message = "untouched";
    bool passed = CBusUpdate::CheckVersionInfo(c.reply, a, b, d, message);
    EXPECT_EQ(passed, c.message.empty()) << c.reply;
    EXPECT_EQ(message, c.message.empty() ? "untouched" : c.message) << c.reply;
  }
}

TEST(PackageKind, ByTheFileNameExtension) {
  struct Case {
    const char* address;
    int kind;
    const char* message;
  } cases[] = {
      {"https://h/d/setup.EXE", kPackageExe, ""},
      {"https://h/pkg.zip", kPackageZip, ""},
      {"https://h/pkg.v2.Rar", kPackageRar, ""},
      {"https://h/pkg.7z", -1, "不支持的文件格式（仅支持exe和zip文件)"},
      {"https://h/d/", -1, "通过文件名称未解析到文件格式"},
      {"https://h/setup", -1, "通过文件名称未解析到文件格式"},
      {"setup.exe", -1, "通过资源下载地址未解析到文件名称"},
  };
  for (const Case& c : cases) {
    std::string name, message;
    EXPECT_EQ(CBusUpdate::PackageKindOf(c.address, &name, message), c.kind) << c.address;
    EXPECT_EQ(message, c.message) << c.address;
  }
}

TEST(NetworkErrorText, TlsFailuresAskForARestart) {
  for (int code : {27, 35, 60}) EXPECT_EQ(NetworkErrorText(code), "建立安全连接失败，请重启软件，再次尝试");
  EXPECT_EQ(NetworkErrorText(28), "网络连接超时，请检查网络");
  EXPECT_EQ(NetworkErrorText(7), "网络错误（7），请检查网络");
}

class InTempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("update-hosts");
    ASSERT_FALSE(dir_.empty());
    path_ = dir_ + "/update-hosts";
  }
  void TearDown() override { RemoveTree(dir_); }
  void Write(const std::string& text, mode_t mode) {
    std::ofstream(path_) << text;
    ASSERT_EQ(chmod(path_.c_str(), mode), 0);
  }
  std::string dir_, path_;
};

TEST_F(InTempFolder, UpdateHostsHonouredOnlyWhenOnlyTheOwnerMayWrite) {
  std::vector<std::string> hosts;
  EXPECT_FALSE(ReadUpdateHosts(path_, &hosts));
  Write("# servers\n  Updates.Example.com  # main\n\n10.0.0.5\r\n[::1]\n", 0644);
  ASSERT_TRUE(ReadUpdateHosts(path_, &hosts));
  EXPECT_EQ(hosts, (std::vector<std::string>{"updates.example.com", "10.0.0.5", "::1"}));
  for (mode_t mode : {0664, 0646}) {
    Write("10.0.0.5\n", mode);
    EXPECT_FALSE(ReadUpdateHosts(path_, &hosts)) << std::oct << mode;
  }
  Write("10.0.0.5\n", 0600);
  ASSERT_EQ(symlink(path_.c_str(), (dir_ + "/link").c_str()), 0);
  EXPECT_FALSE(ReadUpdateHosts(dir_ + "/link", &hosts));
  EXPECT_FALSE(ReadUpdateHosts(dir_, &hosts));
}

TEST(UpdateHostAllowed, HttpsToAListedHostOnly) {
  const std::vector<std::string> hosts = {"updates.example.com", "10.0.0.5", "::1"};
  for (const char* url : {"https://updates.example.com/kpfw/kjxx/v1/info",
                          "HTTPS://UPDATES.example.COM:8443/p/setup.exe", "https://10.0.0.5/a.zip",
                          "https://[::1]:9/a.zip"})
    EXPECT_TRUE(UpdateHostAllowed(url, hosts)) << url;
  for (const char* url : {"http://updates.example.com/a.zip", "ftp://10.0.0.5/a.zip",
                          "https://evil.example.com/a.zip", "https://updates.example.com@evil.com/a",
                          "https://evil.com\\@updates.example.com/a", "https://10.0.0.5/a.zip?x=1",
                          "https://10.0.0.5/a.zip#x", "https://updates.example.com.evil.com/a",
                          "https://10.0.0.5/a b.zip", "/kpfw/kjxx/v1/info", ""})
    EXPECT_FALSE(UpdateHostAllowed(url, hosts)) << url;
  EXPECT_FALSE(UpdateHostAllowed("https://10.0.0.5/a.zip", {}));
}

TEST_F(InTempFolder, UnzipRefusesALongNameAndAMissingArchive) {
  const std::string zip = dir_ + "/p.zip";
  std::string message;
  ASSERT_TRUE(MakeZip(zip, {{"a.txt", "a", 0}, {std::string(300, 'n'), "x", 0}}));
  EXPECT_FALSE(UnzipToFolder(zip, dir_, message));
  EXPECT_EQ(message, kZipUnsafeEntry);
  EXPECT_FALSE(access((dir_ + "/a.txt").c_str(), F_OK) == 0);
  EXPECT_FALSE(UnzipToFolder(dir_ + "/missing.zip", dir_, message));
  EXPECT_EQ(message, kZipOpenFailed);
}

// Both package formats go through the same checks and writing.
struct Format {
  const char* extension;
  bool (*make)(const std::string&, const std::vector<ZipItem>&);
  bool (*unpack)(const std::string&, const std::string&, std::string&);
  const char* unsafe;
  const char* done;  // the message after success
};
const Format kFormats[] = {
    {"zip", MakeZip, UnzipToFolder, kZipUnsafeEntry, kZipFileDone},
    {"rar", MakeRar, UnrarToFolder, kRarUnsafeEntry, "untouched"},
};

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

TEST_F(InTempFolder, ZipAndRarUnpackFilesFoldersAndModes) {
  const std::string script = "#!/bin/sh\necho new\n", readme(300, 'r');
  const std::vector<ZipItem> items = {{"tool", script, S_IFREG | 0755},
                                      {"data/", "", S_IFDIR | 0755},
                                      {"data/conf/readme.txt", readme, S_IFREG | 0640},
                                      {"notes.txt", "dos", 0},
                                      {"docs/", "", 0}};
  const struct {
    const char* path;
    std::string data;
    mode_t mode;
  } files[] = {{"tool", script, S_IFREG | 0755},
               {"data/conf/readme.txt", readme, S_IFREG | 0640},
               {"notes.txt", "dos", S_IFREG | 0644}};
  for (const Format& f : kFormats) {
    const std::string out = dir_ + "/" + f.extension, archive = out + "." + f.extension;
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    std::ofstream(out + "/tool") << "old";
    ASSERT_TRUE(f.make(archive, items));
    std::string message = "untouched";
    EXPECT_TRUE(f.unpack(archive, out, message)) << f.extension << ": " << message;
    EXPECT_EQ(message, f.done) << f.extension;
    for (const auto& file : files) {
      EXPECT_EQ(ReadFile(out + "/" + file.path), file.data) << f.extension << " " << file.path;
      EXPECT_EQ(ModeOf(out + "/" + file.path), file.mode) << f.extension << " " << file.path;
    }
    EXPECT_TRUE(S_ISDIR(ModeOf(out + "/docs"))) << f.extension;
  }
  // The rar writer of the tests writes what another reader lists.
  int code = -1;
  EXPECT_EQ(RunCapture({"/usr/bin/bsdtar", "-tf", dir_ + "/rar.rar"}, 10000, &code),
            "tool\ndata\ndata/conf/readme.txt\nnotes.txt\ndocs\n");
  EXPECT_EQ(code, 0);
}

TEST_F(InTempFolder, ZipAndRarRefuseEscapingNamesAndLinksBeforeWritingAnything) {
  const std::string outside = dir_ + "/outside.txt";
  const ZipItem hostile[] = {
      {"../outside.txt", "x", S_IFREG | 0644},
      {outside, "x", S_IFREG | 0644},
      {"a\\..\\..\\outside.txt", "x", 0},
      {"a/../../outside.txt", "x", S_IFREG | 0644},
      {std::string(300, 'n'), "x", 0},
      {"link", outside, S_IFLNK | 0777},
      {"fifo", "", S_IFIFO | 0644},
  };
  const std::string out = dir_ + "/out";
  for (const Format& f : kFormats) {
    for (const ZipItem& item : hostile) {
      const std::string archive = dir_ + "/pkg." + f.extension;
      ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
      ASSERT_TRUE(f.make(archive, {{"first.txt", "1", 0}, item}));
      std::string message;
      EXPECT_FALSE(f.unpack(archive, out, message)) << f.extension << " " << item.name;
      EXPECT_EQ(message, f.unsafe) << f.extension << " " << item.name;
      EXPECT_NE(access((out + "/first.txt").c_str(), F_OK), 0) << f.extension << " " << item.name;
      EXPECT_NE(access(outside.c_str(), F_OK), 0) << f.extension << " " << item.name;
      ASSERT_TRUE(RemoveTree(out));
    }
  }
}

TEST_F(InTempFolder, RarCutShortOrOfAnotherFormatWritesNothing) {
  const std::string rar = dir_ + "/p.rar", out = dir_ + "/out";
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  ASSERT_TRUE(MakeRar(rar, {{"a.txt", "hello", 0}, {"b.txt", std::string(1000, 'b'), 0}}));
  ASSERT_EQ(truncate(rar.c_str(), static_cast<off_t>(ReadFile(rar).size() - 500)), 0);
  std::string message;
  EXPECT_FALSE(UnrarToFolder(rar, out, message));
  EXPECT_EQ(message, kRarInfoFailed);
  ASSERT_TRUE(MakeZip(rar, {{"a.txt", "hello", 0}}));
  EXPECT_FALSE(UnrarToFolder(rar, out, message));
  EXPECT_EQ(message, kRarOpenFailed);
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(InTempFolder, OneUpdateAtATime) {
  // A listed remote server that takes the connection and never answers.
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  ASSERT_EQ(mkdir((dir_ + "/server").c_str(), 0755), 0);
  std::ofstream(dir_ + "/server/update-hosts") << "127.0.0.1\n";
  plenwick::ProgramFolderOverride(dir_ + "/");

  const std::string base = "https://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  std::string encoded(64, '\0');
  encoded.resize(static_cast<size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(&encoded[0]),
      reinterpret_cast<const unsigned char*>(base.data()), static_cast<int>(base.size()))));
  auto update = [&encoded] {
    PerIoContext context;
    context.request.path = "/v1/print/update";
    context.request.query["url"] = encoded;
    CBusUpdate(&context).BusParser();
    return context.request.body;
  };
  auto first = std::async(std::launch::async, update);
  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1);
  int held = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  EXPECT_EQ(update(), kUpdateBusy);
  close(held);
  close(listener);
  EXPECT_EQ(first.get(), NetworkErrorText(35));
  plenwick::ProgramFolderOverride("");
}

}  // namespace
