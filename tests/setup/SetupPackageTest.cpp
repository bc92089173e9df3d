// The Debian package made by "cpack -G DEB" from a Release build tree for /usr (scripts/test.sh
// makes one and names it in PELORIN_PACKAGE_TREE): the files Setup's tree holds, in the system's
// layout, with the system's menu entry, the copyright file and the changelog; the library
// dependencies, the capabilities set by postinst, and no error from lintian.
#include <gtest/gtest.h>

#include "tests/setup/SetupTestSupport.h"

namespace {

// The regular files of the package, as dpkg-deb -c lists them, without the leading ".".
std::set<std::string> PackageFiles(const std::string& listing) {
  std::set<std::string> files;
  std::size_t start = 0;
  for (std::size_t end; (end = listing.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = listing.substr(start, end - start);
    const std::size_t path = line.find(" ./");
    if (line.starts_with("-") && path != std::string::npos) files.insert(line.substr(path + 2));
  }
  return files;
}

// Where the package puts a file of Setup's tree ("" for Setup's own parts, which it leaves out).
std::string PackagePath(const std::string& file) {
  if (file == "bin/Setup" || file.ends_with(".desktop.in")) return "";
  if (file.starts_with("lib/")) return "/usr/lib/pelorinpro/" + file.substr(4);
  if (file.starts_with("share/PelorinPro/")) return "/usr/share/pelorinpro/" + file.substr(17);
  return "/usr/" + file;
}

TEST(SetupPackage, TheDebianPackageHoldsSetupsFilesInTheSystemLayoutAndPassesLintian) {
  const std::string tree = PELORIN_PACKAGE_TREE;
  if (tree.empty()) GTEST_SKIP() << "no Release build tree to package: configure with -DPELORIN_PACKAGE_TREE=DIR";
  SetupSandbox box;
  ASSERT_EQ(box.Staged().status, 0) << box.Staged().output;
  const std::string out = box.Root() + "/package";
  const CommandResult made = Shell("cd " + tree + " && cpack -G DEB -B " + out);
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string deb = out + "/pelorinpro_3.1_amd64.deb";

  std::set<std::string> expected = {"/usr/share/applications/pelorinpro.desktop", "/usr/share/doc/pelorinpro/copyright",
                                    "/usr/share/doc/pelorinpro/changelog.gz"};
  for (const std::string& file : TreeOf(box.Stage()))
    if (fs::is_regular_file(box.Stage() + "/" + file) && !PackagePath(file).empty()) {
      expected.insert(PackagePath(file));
      if (file.starts_with("bin/")) expected.insert("/usr/share/man/man1/" + file.substr(4) + ".1.gz");
    }
  EXPECT_EQ(PackageFiles(Shell("dpkg-deb -c " + deb).output), expected);

  const std::string info = Shell("dpkg-deb -I " + deb).output;
  for (const char* wanted :
       {"Package: pelorinpro", "libcap2-bin", "adduser", "libqt6widgets6", "libpcap0.8", "libstdc++6"})
    EXPECT_NE(info.find(wanted), std::string::npos) << wanted << " in\n" << info;
  EXPECT_EQ(info.find("libasan"), std::string::npos) << info;
  const std::string postinst = Shell("dpkg-deb -I " + deb + " postinst").output;
  for (const char* wanted :
       {"addgroup --system pelorinpro", "PelorinCaptureHelper cap_net_raw+ep", "RamparoThreadApp cap_net_admin+ep",
        "chown root:pelorinpro", "chmod 0750", "setcap", "program=\"/usr/bin/"})
    EXPECT_NE(postinst.find(wanted), std::string::npos) << wanted << " in\n" << postinst;
  if (Shell("command -v lintian").status == 0) {
    const CommandResult lint = Shell("lintian --fail-on error " + deb);
    EXPECT_EQ(lint.status, 0) << lint.output;
  }

  // Unpacked: a valid menu entry for the program, which finds its libraries in its private folder
  // and starts with what it ships and the Debian libraries; the copyright file in the
  // machine-readable format and the changelog, whose latest entry is this version.
  const std::string root = box.Root() + "/unpacked";
  ASSERT_EQ(Shell("dpkg-deb -x " + deb + " " + root).status, 0);
  const std::string desktop = root + "/usr/share/applications/pelorinpro.desktop";
  const CommandResult valid = Shell("desktop-file-validate " + desktop);
  EXPECT_EQ(valid.status, 0) << valid.output;
  EXPECT_NE(ReadFileContents(desktop).value_or("").find("\nExec=/usr/bin/PelorinPro\n"), std::string::npos);
  EXPECT_TRUE(ReadFileContents(root + "/usr/share/doc/pelorinpro/copyright")
                  .value_or("")
                  .starts_with("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
  EXPECT_TRUE(
      Shell("gzip -dc " + root + "/usr/share/doc/pelorinpro/changelog.gz").output.starts_with("pelorinpro (3.1) "));
  const std::string program = root + "/usr/bin/PelorinPro";
  EXPECT_EQ(Shell("patchelf --print-rpath " + program).output, "$ORIGIN/../lib/pelorinpro\n");
  EXPECT_EQ(Shell("patchelf --print-rpath " + root + "/usr/bin/RamparoThreadApp").output, "/usr/lib/pelorinpro\n");
  const CommandResult help = Shell(program + " --help");
  EXPECT_EQ(help.status, 0) << help.output;
  EXPECT_NE(help.output.find("Usage: PelorinPro"), std::string::npos) << help.output;
}

}  // namespace
