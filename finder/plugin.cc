// The class finder's descriptor and entries.
#include "detector/core/plugin_frame.h"
#include "finder/finder_scan.h"

static void finder_run(int) {
  // "Findting" is the system's own word in the output window; it stays so.
  out_msg("Findting Delphi classes...\n");
  pellora();
}

extern "C" {

PLUGIN_EXPORT plugin_t PLUGIN = {
    PLUGIN_INTERFACE_VERSION,
    0,
    plugin_init,
    plugin_term,
    finder_run,
    "This is Delphi class finding plug-in",
    "Finding Delphi Classes",
    "Pellora",
    "Ctrl-Alt-F",
};

}  // extern "C"
