// Writing files as the shell's `>` allows and as a careful editor does (unprivileged cases as
// `nobody` in a child): permission, links, owner, descriptors, all-or-none, signals, limits.
#include "gl_context.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const uid_t kNobody = 65534; // nobody and nogroup, as Debian numbers them

// Writes text through an out file: "ok" or the system's reason.
std::string writeThrough(const std::string &path, const std::string &text) {
  kroOutFile out;
  if (kroBeginOutFile(&out, path.c_str()) != 0)
    return strerror(out.error);
  fputs(text.c_str(), out.file);
  return kroCommitOutFile(&out) == 0 ? "ok" : strerror(out.error);
}

TEST(FileRule, TheFilesOwnPermissionDecidesAndWhatAUserSeesStays) {
  if (geteuid() != 0)
    GTEST_SKIP() << "files of two owners need root to make them";
  std::string dir = kroTestTempFolder("rule");
  ASSERT_EQ(chmod(dir.substr(0, dir.rfind('/')).c_str(), 0711), 0); // nobody passes through
  ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
  // File under dir, its folder's mode ("" when dir), its mode, owner and group, a second hard
  // link, written by nobody, the result.
  const std::tuple<const char *, const char *, mode_t, uid_t, gid_t, const char *, bool,
                   const char *>
      cases[] = {{"mine-readonly", "", 0444, kNobody, kNobody, "", true, "Permission denied"},
                 {"ro/writable", "0755", 0666, 0, 0, "", true, "ok"},
                 {"sticky/others", "1777", 0666, 0, 0, "", true, "ok"},
                 {"roots", "", 0666, 0, 0, "", true, "ok"},
                 {"group", "", 0664, kNobody, 0, "", true, "ok"},
                 {"linked", "", 0640, kNobody, kNobody, "other", true, "ok"},
                 {"write-only", "", 0200, kNobody, kNobody, "twin", true, "Permission denied"},
                 {"linked-by-root", "", 02755, kNobody, kNobody, "second", false, "ok"}};
  for (const auto &[name, folder_mode, mode, owner, group, link_name, nobody, result] : cases) {
    SCOPED_TRACE(name);
    std::string path = dir + "/" + name, folder = path.substr(0, path.rfind('/')),
                second = folder + "/" + link_name;
    ASSERT_TRUE(!*folder_mode || mkdir(folder.c_str(), 0700) == 0);
    kroTestWriteFile(path, "old");
    ASSERT_TRUE(chown(path.c_str(), owner, group) == 0 && chmod(path.c_str(), mode) == 0 &&
                (!*link_name || link(path.c_str(), second.c_str()) == 0) &&
                (!*folder_mode || chmod(folder.c_str(), strtol(folder_mode, nullptr, 8)) == 0));
    std::string listing = kroTestListing(folder);
    auto write = [&, nobody = nobody] { // in a child, as nobody unless root writes
      bool dropped =
          !nobody || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0);
      return dropped ? writeThrough(path, "new") : "not nobody";
    };
    EXPECT_EQ(kroTestWithFileLimit(1L << 40, write), result);
    EXPECT_EQ(kroTestReadFile(path), std::string(result) == "ok" ? "new" : "old");
    struct stat info = {};
    lstat(path.c_str(), &info);
    EXPECT_EQ(std::make_tuple(info.st_uid, info.st_gid, info.st_mode & 07777, info.st_nlink),
              std::make_tuple(owner, group, mode, (nlink_t)(*link_name ? 2 : 1)));
    EXPECT_EQ(kroTestListing(folder), listing);
  }
  // An ACL, a user attribute (each alone on a file) stay; the group gains nothing from the mask.
  std::string acl = dir + "/acl", attr = dir + "/attr",
              show = "{ getfacl -p " + acl + "; getfattr -d " + attr + "; }";
  std::string before = kroTestRun("echo old >" + acl + " && echo old >" + attr + " && chmod 0640 " +
                                  acl + " && setfacl -m u:nobody:rw " + acl +
                                  " && setfattr -n user.kept -v yes " + attr + " && " + show)
                           .out;
  EXPECT_TRUE(writeThrough(acl, "a") == "ok" && writeThrough(attr, "b") == "ok");
  EXPECT_EQ(kroTestRun(show).out + kroTestReadFile(acl) + kroTestReadFile(attr), before + "ab");
}

// Into a pipe (also through a link to /dev/fd/N), after what a file opened to append holds, at
// the place a file opened to write has reached; a tool's picture alone, its summary elsewhere.
TEST(FileRule, DescriptorsAreWrittenAsTheyStand) {
  std::string dir = kroTestTempFolder("descriptors"), appended = dir + "/all.cpp",
              placed = dir + "/placed";
  kroTestWriteFile(appended, "old;");
  kroTestWriteFile(placed, "0123456789");
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0); // a write that went elsewhere reads nothing
  int append = open(appended.c_str(), O_WRONLY | O_APPEND), at = open(placed.c_str(), O_WRONLY);
  ASSERT_TRUE(append >= 0 && at >= 0 && lseek(at, 4, SEEK_SET) == 4);
  std::string pipe_path = "/dev/fd/" + std::to_string(ends[1]);
  ASSERT_EQ(symlink(pipe_path.c_str(), (dir + "/to-pipe").c_str()), 0);
  for (const std::string &path :
       {pipe_path, "/proc/self/fd/" + std::to_string(ends[1]), dir + "/to-pipe",
        "/dev/fd/" + std::to_string(append), "/proc/self/fd/" + std::to_string(at)})
    EXPECT_EQ(writeThrough(path, "new;"), "ok") << path;
  char got[64] = {}; // the first three, and nothing else
  EXPECT_TRUE(read(ends[0], got, sizeof got) == 12 && !strcmp(got, "new;new;new;")) << got;
  EXPECT_EQ(kroTestReadFile(appended) + " " + kroTestReadFile(placed), "old;new; 0123new;89");
  for (int fd : {999, ends[0]}) { // none, and one open to read: refused before anything is written
    kroOutFile out;
    std::string path = "/dev/fd/" + std::to_string(fd);
    EXPECT_TRUE(kroBeginOutFile(&out, path.c_str()) == -1 && out.error == EBADF) << fd;
  }
  for (int fd : {ends[0], ends[1], append, at})
    close(fd);
  const std::string resize = KROTOOL_PATH " bmp-resize " KRO_TEST_DATA "/bmp/sample-4x2.bmp ";
  kroTestOutcome to_file = kroTestRun(resize + dir + "/file.bmp 8 8"),
                 piped = kroTestRun("{ " + resize + "/dev/stdout 8 8 | cat >" + dir + "/p.bmp; }"),
                 to_err = kroTestRun("{ " + resize + "/dev/stderr 8 8 2>" + dir + "/e.bmp; }");
  EXPECT_TRUE(kroTestReadFile(dir + "/p.bmp") == kroTestReadFile(dir + "/file.bmp") &&
              kroTestReadFile(dir + "/e.bmp") == kroTestReadFile(dir + "/file.bmp"));
  EXPECT_TRUE(to_file.status == 0 && kroTestHas(piped.err, "-> /dev/stdout: 8 x 8") &&
              kroTestHas(to_err.out, "-> /dev/stderr: 8 x 8"))
      << piped.err << to_err.out;
  EXPECT_EQ(kroTestListing(dir), "all.cpp\ne.bmp\nfile.bmp\np.bmp\nplaced\nto-pipe\n");
}

// The second file of a commit cannot be put in place (its name became a folder): the first,
// renamed or rewritten in place, gets its old content back, and no other file stays. Stopped
// by a signal between begin and commit, a program that asked for it ends by the signal with no
// new file; a file size limit or a pipe without reader is a failed write (EFBIG, EPIPE), the
// commit undone, nothing left, and both signals' actions are back after the commit.
TEST(FileRule, ACommitIsAllOrNoneAndAStopOrASizeLimitLeavesNoNewFile) {
  for (bool linked : {false, true}) {
    std::string dir = kroTestTempFolder(linked ? "all-in-place" : "all-renamed"),
                source = dir + "/mesh.cpp", header = dir + "/mesh.h";
    kroTestWriteFile(source, "old source");
    kroTestWriteFile(header, "old header");
    ASSERT_TRUE(!linked || link(source.c_str(), (dir + "/again.cpp").c_str()) == 0);
    std::string listing = kroTestListing(dir);
    kroOutFile outs[2];
    ASSERT_TRUE(kroBeginOutFile(&outs[0], source.c_str()) == 0 &&
                kroBeginOutFile(&outs[1], header.c_str()) == 0);
    fputs("new source, longer than the old", outs[0].file);
    fputs("new header", outs[1].file);
    ASSERT_TRUE(unlink(header.c_str()) == 0 && mkdir(header.c_str(), 0777) == 0);
    kroTestWriteFile(header + "/inside", "");
    EXPECT_TRUE(kroCommitOutFiles(outs, 2) == -1 && outs[1].error == EISDIR) << linked;
    EXPECT_EQ(kroTestListing(dir) + kroTestReadFile(source), listing + "old source") << linked;
    // Again with the header a file: both new, and still no other file.
    ASSERT_TRUE(unlink((header + "/inside").c_str()) == 0 && rmdir(header.c_str()) == 0);
    kroTestWriteFile(header, "old header");
    ASSERT_TRUE(kroBeginOutFile(&outs[0], source.c_str()) == 0 &&
                kroBeginOutFile(&outs[1], header.c_str()) == 0);
    fputs("new source", outs[0].file), fputs("new header", outs[1].file);
    EXPECT_EQ(kroCommitOutFiles(outs, 2), 0);
    EXPECT_EQ(kroTestListing(dir) + kroTestReadFile(source) + kroTestReadFile(header),
              listing + "new sourcenew header");
  }
  // In place (a second link) with the old file already past a size limit: a longer new content
  // is refused and every old byte stays; a shorter one goes in, cut to its length.
  std::string limited = kroTestTempFolder("in-place-limit") + "/big.bin", old(6000, 'o');
  kroTestWriteFile(limited, old);
  ASSERT_EQ(link(limited.c_str(), (limited + ".link").c_str()), 0);
  EXPECT_EQ(
      kroTestWithFileLimit(4096, [&] { return writeThrough(limited, std::string(8000, 'n')); }),
      strerror(EFBIG));
  EXPECT_TRUE(kroTestReadFile(limited) == old) << kroTestReadFile(limited).size() << " bytes";
  EXPECT_EQ(kroTestWithFileLimit(4096, [&] { return writeThrough(limited, "short"); }), "ok");
  EXPECT_EQ(kroTestReadFile(limited + ".link"), "short");
  std::string dir = kroTestTempFolder("signals"), path = dir + "/out.bmp";
  kroTestWriteFile(path, "old");
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE}) {
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
      for (int each : {number, SIGXFSZ, SIGPIPE})
        signal(each, SIG_DFL); // as a program starts, whatever the test runner ignores
      kroRemoveOutFilesOnSignals();
      struct rlimit limit = {4096, 4096};
      int ends[2];
      kroOutFile outs[2];
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || pipe(ends) != 0 || close(ends[0]) != 0 ||
          kroBeginOutFile(&outs[0], path.c_str()) != 0 ||
          kroBeginOutFile(&outs[1], ("/dev/fd/" + std::to_string(ends[1])).c_str()) != 0)
        _exit(3);
      fputs(std::string(number == SIGPIPE ? 10 : 10000, 'x').c_str(), outs[0].file);
      fputs("into a pipe nobody reads", outs[1].file);
      raise(number); // ignored while an out file is open if a write can raise it
      struct sigaction xfsz, pipe;
      bool failed = kroCommitOutFiles(outs, 2) == -1 &&
                    (number == SIGPIPE ? outs[1].error == EPIPE : outs[0].error == EFBIG);
      sigaction(SIGXFSZ, nullptr, &xfsz), sigaction(SIGPIPE, nullptr, &pipe);
      _exit(failed && xfsz.sa_handler == SIG_DFL && pipe.sa_handler == SIG_DFL ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(number == SIGXFSZ || number == SIGPIPE
                    ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                    : WIFSIGNALED(status) && WTERMSIG(status) == number)
        << strsignal(number) << ": " << status;
    EXPECT_EQ(kroTestListing(dir) + kroTestReadFile(path), "out.bmp\nold");
  }
}

// mesh-src with one destination twice (directly, through a link, as standard output): a usage
// error before anything is written; standard output into a pipe works.
TEST(FileRule, OneDestinationNamedTwiceIsRefused) {
  std::string dir = kroTestTempFolder("twice"),
              tool = KROTOOL_PATH " mesh-src " KRO_TEST_DATA "/ase/two_objects.ase --auto ";
  kroTestWriteFile(dir + "/s.cpp", "old");
  ASSERT_EQ(symlink("s.cpp", (dir + "/l.h").c_str()), 0);
  const std::string cases[] = {"-o s.cpp --header s.cpp", "-o s.cpp --header l.h",
                               "-o new.cpp --materials ./new.cpp", "--header /dev/stdout",
                               "-o s.cpp --header h.h --materials " + dir + "/h.h"};
  for (const std::string &outputs : cases) {
    kroTestOutcome run = kroTestRun("cd " + dir + " && " + tool + outputs);
    EXPECT_TRUE(run.status == 2 && kroTestHas(run.err, "name the same file")) << outputs;
    EXPECT_EQ(kroTestListing(dir) + kroTestReadFile(dir + "/s.cpp"), "l.h\ns.cpp\nold");
  }
  EXPECT_GT(atoi(kroTestRun(tool + "-o /dev/stdout | wc -c").out.c_str()), 1000);
}

} // namespace
