// The settings file's reader: any text loads without harm, and what it keeps saves and
// loads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quelt::TSettingsStore store("/nonexistent/quelt-fuzz/settings.reg");
  store.LoadText(std::string_view(reinterpret_cast<const char*>(data), size));
  std::string once = store.SaveText();
  store.LoadText(once);
  if (store.SaveText() != once) std::abort();
  return 0;
}
