// The real Kelvorn's update and upload against a loopback HTTPS server of the
// test that stands in for the remote service; curl as the browser.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cjson/cJSON.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "service/BusUpdate.h"
#include "service/RemoteService.h"
#include "service/Unrar.h"
#include "service/Unzip.h"
#include "tests/service/process/kelvorn_fixture.h"
#include "tests/service/support/test_remote.h"
#include "tests/support/file_util.h"
#include "tests/support/process_util.h"

namespace fs = std::filesystem;

namespace {

const char kInfoPath[] = "/kpfw/kjxx/v1/info";
const char kUploadPath[] = "/kpfw/kjxx/v1/upload";
const char kSecureFailed[] = "建立安全连接失败，请重启软件，再次尝试";

// URL-safe base64 with "=" padding, as a page may send it.
std::string UrlBase64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  out.resize(static_cast<size_t>(n));
  for (char& c : out) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return out;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

class UpdateProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    ASSERT_TRUE(remote_.ok());
    ASSERT_TRUE(folder_.CopyProgram("Kelvorn"));
    vornel_ = folder_.CopyProgram("libVornel.so");
    std::error_code ec;
    fs::copy_file(TIRREL_STUB_PATH, folder_.path() + "/libTirrel.so", ec);
    ASSERT_FALSE(ec) << ec.message();
    WriteHosts("# test server\n127.0.0.1\n", 0644);
    tmp_ = MakeTempDir("kelvorn-tmp");
    work_ = MakeTempDir("update-work");
    ASSERT_FALSE(tmp_.empty() || work_.empty());
    ASSERT_FALSE(WaitForPort(18086, 0)) << "port 18086 is taken";
    ASSERT_TRUE(kelvorn_.Start({folder_.path() + "/Kelvorn", "-APP_MODE"}, {"TMPDIR=" + tmp_}));
    ASSERT_TRUE(WaitForPort(18086, 10000));
  }
  void TearDown() override {
    RemoveTree(tmp_);
    RemoveTree(work_);
  }

  void WriteHosts(const std::string& text, mode_t mode) {
    const std::string path = folder_.ServerDir() + "/update-hosts";
    std::ofstream(path) << text;
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }

  // curl as the browser: GET of path with the base in "url" and more query.
  std::string Call(const std::string& path, const std::string& base,
                   const std::string& query = std::string()) {
    return CallRaw(path + "?url=" + UrlBase64(base) + query);
  }
  std::string CallRaw(const std::string& target) {
    int code = -1;
    std::string reply = RunCapture({"/usr/bin/curl", "-sS", "--max-time", "60", "--cacert",
                                    folder_.ServerDir() + "/root.crt", "-A", "TestBrowser/1",
                                    "https://127.0.0.1:18086" + target},
                                   70000, &code);
    EXPECT_EQ(code, 0) << target;
    return reply;
  }

  // A positive answer of the remote service, signed over the first address.
  static std::string SignedAnswer(const std::string& x0, const std::string& x1,
                                  const std::string& x2) {
    const std::string dqsj = "20240601120000";
    std::string jym = CBusUpdate::VersionCheckValue(dqsj, x0);
    for (char& c : jym) c = static_cast<char>(toupper(c));
    return "{\"code\":\"00\",\"msg\":\"升级成功\",\"sfsj\":\"Y\",\"xzdz\":\"" + x0 +
           "\",\"xzdz_1\":\"" + x1 + "\",\"xzdz_2\":\"" + x2 + "\",\"jym\":\"" + jym +
           "\",\"dqsj\":\"" + dqsj + "\"}";
  }

  // Offers an archive of items (MakeZip or MakeRar) at path and an answer
  // that points at it.
  void Offer(bool (*make)(const std::string&, const std::vector<ZipItem>&),
             const std::vector<ZipItem>& items, const std::string& path) {
    const std::string archive = work_ + "/pkg";
    ASSERT_TRUE(make(archive, items));
    remote_.Route(path, 200, ReadFile(archive));
    remote_.Route(kInfoPath, 200, SignedAnswer(remote_.Base() + path, "", ""));
  }
  void OfferZip(const std::vector<ZipItem>& items, const std::string& path) {
    Offer(MakeZip, items, path);
  }

  bool TempFolderEmpty() { return fs::is_empty(tmp_); }

  // Kelvorn's log so far, once it holds text (the logging thread writes
  // behind the reply), "" after ten seconds.
  std::string LogHolding(const std::string& text) {
    std::string log;
    Eventually([&] {
      log = ServiceLogText(folder_.path());
      return log.find(text) != std::string::npos;
    });
    return log;
  }

  // The files in Kelvorn's temporary folder, as "<folder>/<name>" below it.
  std::vector<std::string> TempFiles() {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(tmp_))
      if (!e.is_directory()) files.push_back(fs::relative(e.path(), tmp_).string());
    return files;
  }

  // Waits up to ten seconds for done().
  template <typename F>
  static bool Eventually(F done) {
    for (int i = 0; i < 200 && !done(); ++i) usleep(50 * 1000);
    return done();
  }

  TempProgramFolder folder_;
  TestRemote remote_{folder_.ServerDir()};
  ChildProcess kelvorn_;
  std::string tmp_;   // Kelvorn's temporary folder
  std::string work_;  // the test's own files
  bool vornel_ = false;
};

TEST_F(UpdateProcess, VersionListAndForwardedHeadersArrive) {
  remote_.Route(kInfoPath, 200, "{\"code\":\"01\",\"msg\":\"已是最新版本\"}");
  EXPECT_EQ(Call("/v1/print/update", remote_.Base(),
                 "&cookie=SID=1;%20lang=zh&SSO_SECURITY_CHECK_TOKEN=tok&X_B3_Sampled=%271%27"
                 "&X-B3-SpanId=s1&X-B3-TraceId=t1&X-Tsf-Client-Timestamp=17"),
            "已是最新版本");

  auto requests = remote_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const ReceivedRequest& got = requests[0];
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.path, kInfoPath);
  const std::pair<const char*, const char*> headers[] = {
      {"User-Agent", "TestBrowser/1"}, {"Content-Type", "application/json"},
      {"Cookie", "SID=1;lang=zh"},     {"SSO_SECURITY_CHECK_TOKEN", "tok"},
      {"X-B3-Sampled", "1"},           {"X-B3-SpanId", "s1"},
      {"X-B3-TraceId", "t1"},          {"X-Tsf-Client-Timestamp", "17"},
  };
  for (const auto& h : headers) EXPECT_EQ(got.Header(h.first), h.second) << h.first;

  cJSON* list = cJSON_CreateArray();
  for (const auto& v : {std::make_pair("01", "1.5"), std::make_pair("02", vornel_ ? "1.0" : ""),
                        std::make_pair("03", "7.3.1")}) {
    cJSON* item = cJSON_CreateObject();
    cJSON_AddStringToObject(item, "zjdm", v.first);
    cJSON_AddStringToObject(item, "bdbbh", v.second);
    cJSON_AddItemToArray(list, item);
  }
  char* text = cJSON_Print(list);
  EXPECT_EQ(got.body, text);
  cJSON_free(text);
  cJSON_Delete(list);
}

TEST_F(UpdateProcess, ZipFromTheSecondAddressReplacesFilesInUse) {
  // A program of the folder that runs while the update replaces it.
  const std::string tool = folder_.path() + "/tool";
  fs::copy_file("/bin/sleep", tool);
  ChildProcess running;
  ASSERT_TRUE(running.Start({tool, "60"}));

  const std::string script = "#!/bin/sh\necho new\n";
  const std::string readme(300, 'r');
  const std::string base = remote_.Base();
  OfferZip({{"tool", script, S_IFREG | 0755},
            {"data/", "", S_IFDIR | 0755},
            {"data/conf/readme.txt", readme, S_IFREG | 0640},
            {"notes.txt", "dos", 0},
            {"docs/", "", 0}},
           "/b/pkg.zip");
  remote_.Route("/a/pkg.zip", 500, "server error");
  remote_.Route(kInfoPath, 200, SignedAnswer(base + "/a/pkg.zip", base + "/b/pkg.zip", ""));

  EXPECT_EQ(Call("/v1/print/update", base), kZipFileDone);

  auto requests = remote_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].method + " " + requests[1].path, "GET /a/pkg.zip");
  EXPECT_EQ(requests[2].method + " " + requests[2].path, "GET /b/pkg.zip");

  EXPECT_EQ(ReadFile(tool), script);
  EXPECT_EQ(ModeOf(tool), S_IFREG | 0755);
  EXPECT_EQ(ReadFile(folder_.path() + "/data/conf/readme.txt"), readme);
  EXPECT_EQ(ModeOf(folder_.path() + "/data/conf/readme.txt"), S_IFREG | 0640);
  EXPECT_EQ(ModeOf(folder_.path() + "/notes.txt"), S_IFREG | 0644);
  EXPECT_TRUE(S_ISDIR(ModeOf(folder_.path() + "/docs")));
  // The running program keeps its old file, which is no longer in the folder.
  EXPECT_EQ(kill(running.pid(), 0), 0);
  char exe[PATH_MAX] = {};
  ASSERT_GT(readlink(("/proc/" + std::to_string(running.pid()) + "/exe").c_str(), exe, sizeof exe - 1), 0);
  EXPECT_NE(std::string(exe).find("(deleted)"), std::string::npos) << exe;
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(UpdateProcess, ZipWithAnEscapingNameWritesNothing) {
  const std::string outside = "escape-" + std::to_string(getpid()) + ".txt";
  const std::string names[] = {"../" + outside, folder_.path() + "/" + outside, "a\\..\\x.txt",
                               "a/../../" + outside};
  for (const std::string& name : names) {
    OfferZip({{"first.txt", "1", S_IFREG | 0644}, {name, "x", S_IFREG | 0644}}, "/b/pkg.zip");
    EXPECT_EQ(Call("/v1/print/update", remote_.Base()), kZipUnsafeEntry) << name;
    EXPECT_FALSE(fs::exists(folder_.path() + "/first.txt")) << name;
    EXPECT_FALSE(fs::exists(folder_.path() + "/../" + outside)) << name;
    EXPECT_FALSE(fs::exists(folder_.path() + "/" + outside)) << name;
    // The failed package stays for a look; the next update removes it.
    auto left = TempFiles();
    ASSERT_EQ(left.size(), 1u) << name;
    EXPECT_EQ(fs::path(left[0]).filename(), "pkg.zip") << name;
  }
}

TEST_F(UpdateProcess, RarUnpacksInPlaceAndAFailedOneStaysUntilTheNextUpdate) {
  const std::string base = remote_.Base();
  Offer(MakeRar, {{"first.txt", "1", 0}, {"../escape.txt", "x", 0}}, "/b/pkg.rar");
  EXPECT_EQ(Call("/v1/print/update", base), std::string(kRarFailed) + kRarUnsafeEntry);
  EXPECT_FALSE(fs::exists(folder_.path() + "/first.txt"));
  EXPECT_FALSE(fs::exists(folder_.path() + "/../escape.txt"));
  auto left = TempFiles();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(fs::path(left[0]).filename(), "pkg.rar");

  const std::string script = "#!/bin/sh\necho new\n";
  Offer(MakeRar,
        {{"tool", script, S_IFREG | 0750}, {"data/", "", 0}, {"data/readme.txt", "r", 0}},
        "/c/pkg.rar");
  EXPECT_EQ(Call("/v1/print/update", base), SignedAnswer(base + "/c/pkg.rar", "", ""));
  EXPECT_EQ(ReadFile(folder_.path() + "/tool"), script);
  EXPECT_EQ(ModeOf(folder_.path() + "/tool"), S_IFREG | 0750);
  EXPECT_EQ(ReadFile(folder_.path() + "/data/readme.txt"), "r");
  EXPECT_EQ(ModeOf(folder_.path() + "/data/readme.txt"), S_IFREG | 0644);
  EXPECT_TRUE(TempFolderEmpty());
  // The log tells what was done (the package into the program folder, in
  // this process), the failure with its text, and no command line.
  const std::string log = LogHolding("#####RAR文件解压失败：" + std::string(kRarUnsafeEntry));
  EXPECT_NE(log.find("#####RAR文件解压：" + tmp_ + "/"), std::string::npos) << log;
  EXPECT_NE(log.find("/pkg.rar -> " + folder_.path() + "\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("CMD:"), std::string::npos) << log;
}

TEST_F(UpdateProcess, ExeInstallerFindsItsFileAndItsFolderGoesWhenItEnds) {
  // A script installer that reads its own file after the request has ended.
  const std::string copy = work_ + "/installer-copy";
  const std::string script = "#!/bin/sh\nsleep 1\ncat \"$0\" > " + copy + ".part\nmv " + copy +
                             ".part " + copy + "\n";
  const std::string base = remote_.Base();
  remote_.Route("/b/setup.exe", 200, script);
  remote_.Route(kInfoPath, 200, SignedAnswer(base + "/b/setup.exe", "", ""));
  EXPECT_EQ(Call("/v1/print/update", base), SignedAnswer(base + "/b/setup.exe", "", ""));
  EXPECT_FALSE(TempFolderEmpty());
  ASSERT_TRUE(Eventually([&] { return fs::exists(copy); }));
  EXPECT_EQ(ReadFile(copy), script);
  EXPECT_TRUE(Eventually([&] { return TempFolderEmpty(); }));
}

// The installer's record is in its folder before the installer's first
// line runs. This one reads it, then ends Kelvorn at once: the next update,
// of a new Kelvorn, leaves the folder of the running installer alone.
TEST_F(UpdateProcess, ExeInstallerIsRecordedBeforeItRuns) {
  const std::string seen = work_ + "/seen";
  const std::string script = "#!/bin/sh\ncat \"${0%/*}/.installer\" > " + seen +
                             ".part\nkill -KILL $PPID\n"
                             "echo \"$$ $(cut -d' ' -f22 /proc/$$/stat)\" >> " + seen +
                             ".part\nmv " + seen + ".part " + seen + "\nexec sleep 30\n";
  const std::string base = remote_.Base();
  remote_.Route("/b/setup.exe", 200, script);
  remote_.Route(kInfoPath, 200, SignedAnswer(base + "/b/setup.exe", "", ""));
  int code = -1;
  // Kelvorn may end before it answers.
  RunCapture({"/usr/bin/curl", "-sS", "--max-time", "60", "--cacert",
              folder_.ServerDir() + "/root.crt",
              "https://127.0.0.1:18086/v1/print/update?url=" + UrlBase64(base)},
             70000, &code);
  ASSERT_TRUE(Eventually([&] { return fs::exists(seen); }));
  // The record it found, then its own pid and start time.
  const std::string text = ReadFile(seen);
  const size_t end = text.find('\n');
  ASSERT_NE(end, std::string::npos) << text;
  EXPECT_EQ(text.substr(0, end + 1), text.substr(end + 1)) << "no record before it ran";
  const pid_t installer = static_cast<pid_t>(std::stol(text.substr(end + 1)));
  ASSERT_GT(installer, 0);

  ASSERT_TRUE(kelvorn_.Wait(5000, nullptr));
  ASSERT_TRUE(kelvorn_.Start({folder_.path() + "/Kelvorn", "-APP_MODE"}, {"TMPDIR=" + tmp_}));
  ASSERT_TRUE(WaitForPort(18086, 10000));
  // An update that gets as far as its own folder (and the clean-up of the
  // earlier ones), then fails its download.
  remote_.Route(kInfoPath, 200, SignedAnswer(base + "/c/missing.exe", "", ""));
  Call("/v1/print/update", base);
  auto left = TempFiles();
  EXPECT_EQ(left.size(), 2u);
  bool kept = false;
  for (const std::string& f : left) kept = kept || fs::path(f).filename() == "setup.exe";
  EXPECT_TRUE(kept) << "the running installer's folder went";
  kill(installer, SIGKILL);
}

TEST_F(UpdateProcess, AddressesOutsideTheRuleAreRefused) {
  const std::string base = remote_.Base();
  const std::string port = base.substr(base.rfind(':'));
  struct Case {
    const char* what;
    std::string target;
    std::string reply;
    size_t requests;  // what the remote got
  } cases[] = {
      {"plain http", "/v1/print/update?url=" + UrlBase64("http://127.0.0.1" + port),
       kRemoteHostRefused, 0},
      {"host not listed", "/v1/print/update?url=" + UrlBase64("https://localhost" + port),
       kRemoteHostRefused, 0},
      {"upload to a host not listed", "/v1/print/upload?url=" + UrlBase64("https://localhost" + port),
       kRemoteHostRefused, 0},
      {"no url", "/v1/print/update", kRemoteHostRefused, 0},
      {"url that does not decode", "/v1/print/update?url=a*b", kRemoteUrlInvalid, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CallRaw(c.target), c.reply) << c.what;
    EXPECT_EQ(remote_.Requests().size(), c.requests) << c.what;
  }

  // A package address over plain http: the answer is taken, nothing fetched.
  remote_.Route(kInfoPath, 200, SignedAnswer("http://127.0.0.1" + port + "/b/pkg.zip", "", ""));
  EXPECT_EQ(Call("/v1/print/update", base), kRemoteHostRefused);
  EXPECT_EQ(remote_.Requests().size(), 1u);

  // A list that others may change is no list.
  WriteHosts("127.0.0.1\n", 0666);
  EXPECT_EQ(Call("/v1/print/update", base), kRemoteHostRefused);
  EXPECT_EQ(remote_.Requests().size(), 1u);
  WriteHosts("127.0.0.1\n", 0644);

  // A listed host whose certificate does not lead to a trusted root.
  TempProgramFolder stranger;
  ASSERT_TRUE(stranger.ok());
  TestRemote untrusted(stranger.ServerDir());
  ASSERT_TRUE(untrusted.ok());
  untrusted.Route(kInfoPath, 200, "{\"code\":\"01\",\"msg\":\"x\"}");
  untrusted.Route(kUploadPath, 200, "x");
  EXPECT_EQ(Call("/v1/print/update", untrusted.Base()), kSecureFailed);
  EXPECT_EQ(Call("/v1/print/upload", untrusted.Base()), kSecureFailed);
  EXPECT_TRUE(untrusted.Requests().empty());
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(UpdateProcess, UploadSendsTheHardwareTextAndAnswersTheReply) {
  remote_.Route(kUploadPath, 200, "{\"code\":\"00\",\"msg\":\"上传成功\"}");
  EXPECT_EQ(Call("/v1/print/upload", remote_.Base(), "&X-B3-TraceId=t9"),
            "{\"code\":\"00\",\"msg\":\"上传成功\"}");
  // Without the library an empty text goes.
  fs::remove(folder_.path() + "/libTirrel.so");
  EXPECT_EQ(Call("/v1/print/upload", remote_.Base()), "{\"code\":\"00\",\"msg\":\"上传成功\"}");

  auto requests = remote_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method + " " + requests[0].path, std::string("POST ") + kUploadPath);
  EXPECT_EQ(requests[0].body, "{\"cpu\":\"Stand-in 4 cores\",\"mac\":\"02:00:00:00:00:01\"}");
  EXPECT_EQ(requests[0].Header("X-B3-TraceId"), "t9");
  EXPECT_EQ(requests[1].body, "");
}

}  // namespace
