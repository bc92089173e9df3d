// Loaded into a program by Qt (QT_PLUGIN_PATH with QT_QPA_GENERIC_PLUGINS=pelorinmarker): writes
// the capability lines of its process's status to the file $PELORIN_TEST_MARKER.
#include <QGenericPlugin>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

__attribute__((constructor)) void WriteMarker() {
  const char* marker = std::getenv("PELORIN_TEST_MARKER");
  if (marker == nullptr) return;
  FILE* status = std::fopen("/proc/self/status", "r");
  FILE* out = std::fopen(marker, "w");
  char line[256];
  while (status && out && std::fgets(line, sizeof line, status))
    if (std::strncmp(line, "Cap", 3) == 0) std::fputs(line, out);
  if (status) std::fclose(status);
  if (out) std::fclose(out);
}

}  // namespace

class MarkerPlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "MarkerPlugin.json")

 public:
  QObject* create(const QString&, const QString&) override { return nullptr; }
};

#include "MarkerPlugin.moc"
