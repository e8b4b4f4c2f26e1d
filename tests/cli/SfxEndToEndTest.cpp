// Self-extractors made from archives of other tools and of Quelt: they extract byte for byte
// with no Quelt installed beside them, refuse wrong passwords, and stay readable as archives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cli/SfxSupport.h"
#include "support/LegacyArchives.h"
#include "support/SampleTree.h"
#include "support/Sha256.h"

using namespace quelt::test;

namespace {

class SelfExtractor : public SampleTreeTest {
 protected:
  // The sample tree plus an encrypted entry of its own, archived by `tool`.
  std::string archiveWith(const std::string& tool) {
    const std::string archive = path(tool + ".zip");
    const std::string enc = path("enc");
    writeFile(enc + "/secret.txt", std::string("for the password holder\n"));
    setLocalMTime(enc + "/secret.txt", 2021, 3, 4, 5, 6, 8);
    std::string all, secret;
    if (tool == "zip") {
      all = "zip -q -r " + shq(archive) + " .";
      secret = "zip -q -P secret " + shq(archive) + " secret.txt";
    } else if (tool == "7z") {
      all = "7z a -tzip -bd -bso0 " + shq(archive) + " *";
      secret = "7z a -tzip -bd -bso0 -psecret -mem=ZipCrypto " + shq(archive) + " secret.txt";
    } else {
      all = cliProgram() + " add -r " + shq(archive) + " *";
      secret = cliProgram() + " add -P secret " + shq(archive) + " secret.txt";
    }
    EXPECT_EQ(run(all, src()).status, 0) << all;
    EXPECT_EQ(run(secret, enc).status, 0) << secret;
    return archive;
  }
  // What extraction must give: the sample tree and the encrypted file.
  std::string expectedTree() {
    const std::string tree = path("expected");
    EXPECT_EQ(run("cp -a " + shq(src()) + " " + shq(tree)).status, 0);
    writeFile(tree + "/secret.txt", std::string("for the password holder\n"));
    setLocalMTime(tree + "/secret.txt", 2021, 3, 4, 5, 6, 8);
    return tree;
  }
};

TEST_F(SelfExtractor, ArchivesOfEachToolExtractByteForByte) {
  const std::string expected = expectedTree();
  for (const char* tool : {"zip", "7z", "quelt"}) {
    SCOPED_TRACE(tool);
    if (std::string(tool) != "quelt" && !haveTool(tool)) continue;
    const std::string archive = archiveWith(tool);
    const std::string exe = makeSfx(archive, "--caption 'Sample files'");
    // The archive behind the stub is the archive, byte for byte.
    auto zip = readFile(archive), all = readFile(exe);
    ASSERT_GT(all.size(), zip.size() + 256);
    EXPECT_TRUE(std::equal(zip.begin(), zip.end(), all.end() - long(zip.size())));

    const std::string out = path(std::string("out-") + tool);
    RunResult r = runSfx(exe, "-y -P secret -d " + shq(out));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.substr(0, 14), "Sample files\n\n");
    EXPECT_EQ(compareTrees(expected, out, true), std::vector<std::string>{});
    if (std::string(tool) == "zip") {
      EXPECT_TRUE(fileExists(out + "/empty-folder"));
    }

    RunResult t = runSfx(exe, "-t -P secret");
    EXPECT_EQ(t.status, 0) << t.out << t.err;
    RunResult l = runSfx(exe, "-l");
    EXPECT_EQ(l.status, 0);
    EXPECT_NE(l.out.find("secret.txt (encrypted)"), std::string::npos) << l.out;
  }
}

TEST_F(SelfExtractor, PasswordsAreNeededAndWrongOnesRefused) {
  const std::string exe = makeSfx(archiveWith("quelt"));
  struct Case {
    const char* args;
    const char* why;
  } cases[] = {{"-y", "encrypted; give its password with -P"}, {"-y -P wrong", "wrong password"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string out = path("out");
    RunResult r = runSfx(exe, std::string(c.args) + " -d " + shq(out));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(std::string("skipped  secret.txt: ") + c.why), std::string::npos) << r.out;
    EXPECT_FALSE(fileExists(out + "/secret.txt"));
    EXPECT_TRUE(fileExists(out + "/hello.txt"));
    EXPECT_EQ(run("rm -rf " + shq(out)).status, 0);
  }
  // On a terminal the password is asked for, without echo, once per entry.
  const std::string out = path("typed");
  RunResult r = runOnTerminal(exe, "-d " + shq(out),
                              {{"Existing files", ""}, {"Password for secret.txt: ", "secret"}});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("secret\r"), std::string::npos) << "the password was echoed";
  EXPECT_EQ(readText(out + "/secret.txt"), "for the password holder\n");
  r = runOnTerminal(exe, "-d " + shq(path("typed2")),
                    {{"Existing files", ""}, {"Password for secret.txt: ", "nope"}});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_FALSE(fileExists(path("typed2/secret.txt")));
}

TEST_F(SelfExtractor, LegacyMethodsExtract) {
  for (const auto& archive : readLegacyManifest()) {
    if (archive.file != "legacy_shrink.zip" && archive.file != "legacy_reduce4.zip" &&
        archive.file != "legacy_implode.zip")
      continue;
    SCOPED_TRACE(archive.file);
    const std::string copy = path(archive.file);
    writeFile(copy, readFile(testdataPath("legacy/" + archive.file)));
    const std::string exe = makeSfx(copy);
    const std::string out = path("out-" + archive.file);
    RunResult r = runSfx(exe, "-y -d " + shq(out));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const auto& want : archive.entries)
      EXPECT_EQ(sha256Hex(readFile(out + "/" + want.path)), want.sha256);
  }
}

TEST_F(SelfExtractor, OtherReadersAcceptIt) {
  const std::string archive = archiveWith("zip");
  ASSERT_EQ(run("zip -q -z " + shq(archive), "", "kept comment\n").status, 0);
  const std::string exe = makeSfx(archive);
  // unzip warns about the stub in front (status 1) and then tests every entry.
  if (haveTool("unzip")) {
    RunResult t = run("unzip -P secret -t " + shq(exe));
    EXPECT_LE(t.status, 1) << t.out << t.err;
    EXPECT_NE(t.out.find("No errors detected"), std::string::npos) << t.out;
    RunResult l = run("unzip -l " + shq(exe));
    EXPECT_LE(l.status, 1);
    EXPECT_NE(l.out.find("secret.txt"), std::string::npos);
  }
  // 7z gives up looking for an archive behind a stub of many megabytes, which the
  // instrumented build's stub is; the shipped one is small and static.
#ifndef QUELT_SANITIZED
  const bool stubAsShipped = true;
#else
  const bool stubAsShipped = false;
#endif
  if (haveTool("7z") && stubAsShipped) {
    RunResult t = run("7z t -psecret " + shq(exe));
    EXPECT_EQ(t.status, 0) << t.out << t.err;
  }
  // Our reader finds the directory behind the stub: every entry, and the comment.
  RunResult plain = run(cliProgram() + " list --tsv " + shq(archive));
  RunResult l = run(cliProgram() + " list --tsv " + shq(exe));
  EXPECT_EQ(l.status, 0) << l.err;
  EXPECT_EQ(l.out, plain.out);
  RunResult c = run(cliProgram() + " comment " + shq(exe));
  EXPECT_NE(c.out.find("kept comment"), std::string::npos) << c.out << c.err;
  RunResult t = run(cliProgram() + " test -P secret " + shq(exe));
  EXPECT_EQ(t.status, 0) << t.out;
  RunResult x =
      run(cliProgram() + " extract -P secret -d " + shq(path("cli-out")) + " " + shq(exe));
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(compareTrees(src(), path("cli-out"), false),
            std::vector<std::string>{"unexpected secret.txt"});
}

TEST_F(SelfExtractor, TheStubStandsAlone) {
  const std::string stub = binPath("ZIPSFX.BIN");
  struct stat st;
  ASSERT_EQ(::stat(stub.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  RunResult alone = run(shq(stub));
  EXPECT_EQ(alone.status, 3);
  EXPECT_NE(alone.err.find("carries no archive"), std::string::npos) << alone.err;
  EXPECT_EQ(run(shq(stub) + " --version").out.substr(0, 18), "quelt-sfx (Quelt) ");
  EXPECT_EQ(run(shq(stub) + " --help").status, 0);
  EXPECT_EQ(run(shq(stub) + " --bogus").status, 2);
#if !defined(__SANITIZE_ADDRESS__)
  // Linked statically, so it runs where Quelt and its libraries are not installed.
  RunResult ldd = run("ldd " + shq(stub));
  EXPECT_NE((ldd.out + ldd.err).find("not a dynamic executable"), std::string::npos) << ldd.out;
  // The crypto library's AES, HMAC and PBKDF2 (for AES-encrypted archives) come with much
  // of its machinery; still a small download.
  EXPECT_LT(st.st_size, 8 * 1024 * 1024);
#endif
}

TEST_F(SelfExtractor, InstalledBuilderFindsInstalledStub) {
  if (!haveTool("cmake")) GTEST_SKIP();
  const std::string prefix = path("prefix");
  RunResult install = run("cmake --install " + shq(binPath("..")) + " --prefix " + shq(prefix));
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  RunResult found = run("find " + shq(prefix) + " -name ZIPSFX.BIN -perm -u+x");
  ASSERT_NE(found.out.find("/quelt/ZIPSFX.BIN"), std::string::npos) << found.out;
  // Run from elsewhere, with no stub in the current folder or beside it.
  writeFile(path("work/tiny.zip"), readFile(testdataPath("legacy/legacy_shrink.zip")));
  RunResult r = run(shq(prefix + "/bin/quelt-cli") + " sfx tiny.zip", path("work"));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("(stub " + prefix), std::string::npos) << r.out;
  EXPECT_EQ(runSfx(path("work/tiny.exe"), "-t").status, 0);
}

}  // namespace
