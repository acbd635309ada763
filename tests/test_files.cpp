// Writing files as the shell's `>` would allow and as a careful editor does: the file's own
// permission decides, links, owner, group and mode are kept, descriptors are written as they
// stand, commits of several files are all or none, and signals and file size limits leave no
// new file behind. Unprivileged cases run as `nobody` in a child process.
#include "gl_context.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

const uid_t kNobody = 65534; // nobody and nogroup, as Debian numbers them
const gid_t kNogroup = 65534;

struct stat statOf(const std::string &path) {
  struct stat info;
  memset(&info, 0, sizeof info);
  lstat(path.c_str(), &info);
  return info;
}

// Writes text through an out file; the begin's or the commit's result, and errno's name.
std::string writeThrough(const std::string &path, const std::string &text) {
  kroOutFile out;
  if (kroBeginOutFile(&out, path.c_str()) != 0)
    return strerror(out.error);
  fputs(text.c_str(), out.file);
  return kroCommitOutFile(&out) == 0 ? "ok" : strerror(out.error);
}

// Runs `call` in a child process, as `nobody` when `unprivileged`; what it returned, or a
// failure (checks belong in the parent).
std::string inChild(bool unprivileged, const std::function<std::string()> &call) {
  int channel[2];
  if (pipe(channel) != 0)
    return "no pipe";
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    bool dropped = !unprivileged ||
                   (setgroups(0, nullptr) == 0 && setresgid(kNogroup, kNogroup, kNogroup) == 0 &&
                    setresuid(kNobody, kNobody, kNobody) == 0);
    std::string result = dropped ? call() : "cannot become nobody";
    bool sent = write(channel[1], result.data(), result.size()) == (ssize_t)result.size();
    _exit(sent ? 0 : 1);
  }
  close(channel[1]);
  std::string result;
  char buffer[256];
  for (ssize_t got; child > 0 && (got = read(channel[0], buffer, sizeof buffer)) > 0;)
    result.append(buffer, (size_t)got);
  close(channel[0]);
  int status = -1;
  waitpid(child, &status, 0);
  return result;
}

// The shell decides by the file, and what a user sees about a file stays: read-only refused and
// unchanged; a writable file written whatever its folder allows; hard links stay one file;
// owner, group and mode kept; nothing new left in the folder.
TEST(FileRule, TheFilesOwnPermissionDecidesAndWhatAUserSeesStays) {
  if (geteuid() != 0)
    GTEST_SKIP() << "files of two owners need root to make them";
  std::string dir = kroTestTempFolder("rule");
  std::string top = dir.substr(0, dir.rfind('/'));
  ASSERT_EQ(chmod(top.c_str(), 0711), 0); // nobody may pass through the test's folder
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  struct Case {
    const char *name;     // the file written, under dir
    const char *folder;   // its folder's mode, when it is a folder of its own ("" when dir)
    mode_t mode;          // the file's
    uid_t owner;          // the file's
    gid_t group;          // the file's
    const char *link;     // a second hard link's name beside it, or ""
    bool unprivileged;    // written as nobody
    const char *expected; // the write's result
  } cases[] = {
      {"mine-readonly", "", 0444, kNobody, kNogroup, "", true, "Permission denied"},
      {"ro/writable", "0755", 0666, 0, 0, "", true, "ok"},
      {"sticky/others", "1777", 0666, 0, 0, "", true, "ok"},
      {"roots", "", 0666, 0, 0, "", true, "ok"},
      {"group", "", 0664, kNobody, 0, "", true, "ok"},
      {"linked", "", 0640, kNobody, kNogroup, "other-name", true, "ok"},
      {"linked-by-root", "", 0600, kNobody, kNogroup, "second", false, "ok"},
      {"set-group", "", 02755, kNobody, kNogroup, "", false, "ok"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir + "/" + c.name, folder = path.substr(0, path.rfind('/'));
    if (*c.folder) {
      ASSERT_EQ(mkdir(folder.c_str(), 0), 0);
    }
    kroTestWriteFile(path, "old");
    ASSERT_EQ(chown(path.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    if (*c.link) {
      ASSERT_EQ(link(path.c_str(), (folder + "/" + c.link).c_str()), 0);
    }
    if (*c.folder) {
      ASSERT_EQ(chmod(folder.c_str(), (mode_t)strtol(c.folder, nullptr, 8)), 0);
    }
    std::string listing = kroTestListing(folder);
    EXPECT_EQ(inChild(c.unprivileged, [&] { return writeThrough(path, "new"); }), c.expected);
    bool written = std::string(c.expected) == "ok";
    EXPECT_EQ(kroTestReadFile(path), written ? "new" : "old");
    if (*c.link) {
      EXPECT_EQ(kroTestReadFile(folder + "/" + c.link), kroTestReadFile(path));
    }
    struct stat info = statOf(path);
    EXPECT_EQ(info.st_uid, c.owner);
    EXPECT_EQ(info.st_gid, c.group);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    EXPECT_EQ(info.st_nlink, *c.link ? 2u : 1u);
    EXPECT_EQ(kroTestListing(folder), listing);
  }
}

// A path naming an open descriptor writes to it as it stands: into a pipe, after what a file
// opened to append holds, at the place a file opened to write has reached. A symbolic link to
// one is the same path.
TEST(FileRule, DescriptorsAreWrittenAsTheyStand) {
  std::string dir = kroTestTempFolder("descriptors"), appended = dir + "/all.cpp",
              placed = dir + "/placed";
  kroTestWriteFile(appended, "old;");
  kroTestWriteFile(placed, "0123456789");
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0); // a write that went elsewhere reads nothing
  int append = open(appended.c_str(), O_WRONLY | O_APPEND), at = open(placed.c_str(), O_WRONLY);
  ASSERT_TRUE(append >= 0 && at >= 0 && lseek(at, 4, SEEK_SET) == 4);
  ino_t inode = statOf(appended).st_ino;
  const std::pair<std::string, int> cases[] = {
      {"/dev/fd/" + std::to_string(ends[1]), ends[1]},
      {"/proc/self/fd/" + std::to_string(ends[1]), ends[1]},
      {dir + "/to-pipe", ends[1]}, // a link to /dev/fd/N
      {"/dev/fd/" + std::to_string(append), append},
      {"/proc/self/fd/" + std::to_string(at), at},
  };
  ASSERT_EQ(symlink(("/dev/fd/" + std::to_string(ends[1])).c_str(), (dir + "/to-pipe").c_str()), 0);
  for (const auto &[path, fd] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(writeThrough(path, "new;"), "ok");
    if (fd == ends[1]) {
      char got[16] = {};
      EXPECT_EQ(read(ends[0], got, sizeof got), 4);
      EXPECT_STREQ(got, "new;");
    }
  }
  EXPECT_EQ(kroTestReadFile(appended), "old;new;");
  EXPECT_EQ(statOf(appended).st_ino, inode);
  EXPECT_EQ(kroTestReadFile(placed), "0123new;89");
  EXPECT_EQ(writeThrough("/dev/fd/999", "x"), "Bad file descriptor");
  for (int fd : {ends[0], ends[1], append, at})
    close(fd);
  // Through a tool into a pipe: the picture alone, its summary on standard error.
  const std::string resize = KROTOOL_PATH " bmp-resize " KRO_TEST_DATA "/bmp/sample-4x2.bmp ";
  kroTestOutcome to_file = kroTestRun(resize + dir + "/file.bmp 8 8"),
                 piped =
                     kroTestRun("{ " + resize + "/dev/stdout 8 8 | cat >" + dir + "/piped.bmp; }");
  EXPECT_TRUE(to_file.status == 0 && piped.status == 0) << to_file.err << piped.err;
  EXPECT_TRUE(kroTestReadFile(dir + "/piped.bmp") == kroTestReadFile(dir + "/file.bmp"));
  EXPECT_TRUE(kroTestHas(piped.err, "-> /dev/stdout: 8 x 8")) << piped.err;
  EXPECT_EQ(kroTestListing(dir), "all.cpp\nfile.bmp\npiped.bmp\nplaced\nto-pipe\n");
}

// Two files committed as one: when the second cannot be put in place after the first was
// (its name became a folder), the first gets its old content back, whichever way it was
// written, and no new or kept file stays.
TEST(FileRule, ACommitOfSeveralFilesIsAllOrNone) {
  for (bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "first written in place" : "first renamed");
    std::string dir = kroTestTempFolder(linked ? "all-in-place" : "all-renamed"),
                source = dir + "/mesh.cpp", header = dir + "/mesh.h";
    kroTestWriteFile(source, "old source");
    kroTestWriteFile(header, "old header");
    if (linked) {
      ASSERT_EQ(link(source.c_str(), (dir + "/again.cpp").c_str()), 0);
    }
    std::string listing = kroTestListing(dir);
    kroOutFile outs[2];
    ASSERT_EQ(kroBeginOutFile(&outs[0], source.c_str()), 0);
    ASSERT_EQ(kroBeginOutFile(&outs[1], header.c_str()), 0);
    fputs("new source", outs[0].file);
    fputs("new header", outs[1].file);
    ASSERT_EQ(unlink(header.c_str()), 0);
    ASSERT_EQ(mkdir(header.c_str(), 0777), 0);
    kroTestWriteFile(header + "/inside", "");
    EXPECT_EQ(kroCommitOutFiles(outs, 2), -1);
    EXPECT_EQ(outs[0].error, 0);
    EXPECT_EQ(outs[1].error, EISDIR);
    EXPECT_EQ(kroTestReadFile(source), "old source");
    EXPECT_EQ(kroTestListing(dir), listing);
  }
}

// mesh-src names one file twice, directly, through a link or as standard output: a usage error
// before anything is written.
TEST(FileRule, OneDestinationNamedTwiceIsRefused) {
  std::string dir = kroTestTempFolder("twice"),
              model = std::string(KRO_TEST_DATA) + "/ase/two_objects.ase";
  kroTestWriteFile(dir + "/s.cpp", "old");
  ASSERT_EQ(symlink("s.cpp", (dir + "/l.h").c_str()), 0);
  const char *cases[] = {"-o s.cpp --header s.cpp", "-o s.cpp --header l.h",
                         "-o new.cpp --materials ./new.cpp", "--header /dev/stdout",
                         "-o s.cpp --header h.h --materials ../twice/h.h"};
  for (const char *outputs : cases) {
    kroTestOutcome run =
        kroTestRun("cd " + dir + " && " KROTOOL_PATH " mesh-src " + model + " --auto " + outputs);
    EXPECT_EQ(run.status, 2) << outputs << ": " << run.err;
    EXPECT_TRUE(kroTestHas(run.err, "name the same file")) << outputs << ": " << run.err;
    EXPECT_EQ(kroTestListing(dir), "l.h\ns.cpp\n") << outputs;
  }
  EXPECT_EQ(kroTestReadFile(dir + "/s.cpp"), "old");
  kroTestOutcome piped =
      kroTestRun(KROTOOL_PATH " mesh-src " + model + " --auto -o /dev/stdout | wc -c");
  EXPECT_GT(atoi(piped.out.c_str()), 1000) << piped.err;
}

// Stopped by a signal between begin and commit, a program that asked for it leaves no new
// file and ends by the signal; a file size limit is a failed write (EFBIG), nothing left.
TEST(FileRule, SignalsAndSizeLimitsLeaveNoNewFile) {
  std::string dir = kroTestTempFolder("signals"), path = dir + "/out.bmp";
  kroTestWriteFile(path, "old");
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
    SCOPED_TRACE(strsignal(number));
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
      signal(number, SIG_DFL); // as a program starts, whatever the test runner ignores
      kroRemoveOutFilesOnSignals();
      struct rlimit limit = {4096, 4096};
      if (number == SIGXFSZ && setrlimit(RLIMIT_FSIZE, &limit) != 0)
        _exit(3);
      kroOutFile out;
      if (kroBeginOutFile(&out, path.c_str()) != 0)
        _exit(4);
      fputs(std::string(10000, 'x').c_str(), out.file);
      if (number != SIGXFSZ)
        raise(number);
      _exit(kroCommitOutFile(&out) == -1 && out.error == EFBIG ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (number == SIGXFSZ) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << status;
    }
    EXPECT_EQ(kroTestListing(dir), "out.bmp\n");
    EXPECT_EQ(kroTestReadFile(path), "old");
  }
}

// The release archive is the same bytes whatever the umask it was packed under, and whenever.
TEST(FileRule, ReleaseArchiveIsTheSameUnderEveryUmask) {
  std::string dir = kroTestTempFolder("release");
  kroTestWriteFile(dir + "/zkintro", "#!/bin/sh\n");
  kroTestWriteFile(dir + "/README.txt", "read me\n");
  std::string archives[2];
  int i = 0;
  for (const char *mask : {"022", "002"}) {
    std::string out = dir + "/out" + mask;
    kroTestOutcome run = kroTestRun("umask " + std::string(mask) +
                                    " && " KRO_SOURCE_DIR "/tools/zkrelease --name zk " + dir +
                                    "/zkintro " + dir + "/README.txt " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    archives[i++] = kroTestReadFile(out + "/zk.tar.gz");
    usleep(1100000); // a clock second later: nothing of the packing's time may enter
  }
  EXPECT_FALSE(archives[0].empty());
  EXPECT_TRUE(archives[0] == archives[1]);
}

} // namespace
