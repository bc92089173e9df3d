// The Debian package made by "cpack -G DEB" from a Release build tree (scripts/test.sh makes one
// and names it in PELORIN_PACKAGE_TREE): the same files as install places, the system's menu
// entry and icons, the library dependencies and the capabilities set by postinst.
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

TEST(SetupPackage, TheDebianPackageHoldsWhatInstallPlacesAndTheSystemMenuEntry) {
  const std::string tree = PELORIN_PACKAGE_TREE;
  if (tree.empty()) GTEST_SKIP() << "no Release build tree to package: configure with -DPELORIN_PACKAGE_TREE=DIR";
  SetupSandbox box;
  ASSERT_EQ(box.Staged().status, 0) << box.Staged().output;
  const std::string out = box.Root() + "/package";
  const CommandResult made = Shell("cd " + tree + " && cpack -G DEB -B " + out);
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string deb = out + "/pelorinpro_3.1_amd64.deb";

  std::set<std::string> expected = {"/usr/share/applications/pelorinpro.desktop"};
  for (const std::string& file : TreeOf(box.Stage()))
    if (fs::is_regular_file(box.Stage() + "/" + file)) {
      expected.insert("/opt/pelorinpro/" + file);
      if (file.starts_with("share/icons/")) expected.insert("/usr/" + file);
    }
  EXPECT_EQ(PackageFiles(Shell("dpkg-deb -c " + deb).output), expected);

  const std::string info = Shell("dpkg-deb -I " + deb).output;
  for (const char* wanted : {"Package: pelorinpro", "libcap2-bin", "adduser", "libqt6widgets6", "libpcap0.8", "libstdc++6"})
    EXPECT_NE(info.find(wanted), std::string::npos) << wanted << " in\n" << info;
  EXPECT_EQ(info.find("libasan"), std::string::npos) << info;
  const std::string postinst = Shell("dpkg-deb -I " + deb + " postinst").output;
  for (const char* wanted : {"addgroup --system pelorinpro", "PelorinCaptureHelper cap_net_raw+ep",
                             "RamparoThreadApp cap_net_admin+ep", "chown root:pelorinpro", "chmod 0750",
                             "/sbin/setcap", "/opt/pelorinpro/bin/"})
    EXPECT_NE(postinst.find(wanted), std::string::npos) << wanted << " in\n" << postinst;

  // Unpacked: a valid menu entry for the program, which finds its libraries beside it and
  // starts with what it ships and the Debian libraries.
  const std::string root = box.Root() + "/unpacked";
  ASSERT_EQ(Shell("dpkg-deb -x " + deb + " " + root).status, 0);
  const std::string desktop = root + "/usr/share/applications/pelorinpro.desktop";
  const CommandResult valid = Shell("desktop-file-validate " + desktop);
  EXPECT_EQ(valid.status, 0) << valid.output;
  EXPECT_NE(ReadFileContents(desktop).value_or("").find("\nExec=/opt/pelorinpro/bin/PelorinPro\n"), std::string::npos);
  const std::string program = root + "/opt/pelorinpro/bin/PelorinPro";
  EXPECT_EQ(Shell("patchelf --print-rpath " + program).output, "$ORIGIN/../lib\n");
  EXPECT_EQ(Shell("patchelf --print-rpath " + root + "/opt/pelorinpro/bin/RamparoThreadApp").output,
            "/opt/pelorinpro/lib\n");
  const CommandResult help =
      Shell("/lib64/ld-linux-x86-64.so.2 --library-path " + root + "/opt/pelorinpro/lib " + program + " --help");
  EXPECT_EQ(help.status, 0) << help.output;
  EXPECT_NE(help.output.find("Usage: PelorinPro"), std::string::npos) << help.output;
}

}  // namespace
