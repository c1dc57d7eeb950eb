// The class detector's descriptor and entries.
#include "detector/core/plugin_frame.h"
#include "detector/scan_loop.h"

static void detector_run(int) {
  out_msg("Detecting Delphi classes...\n");
  detect_classes();
}

extern "C" {

PLUGIN_EXPORT plugin_t PLUGIN = {
    PLUGIN_INTERFACE_VERSION,
    0,
    plugin_init,
    plugin_term,
    detector_run,
    "This is Delphi class detecting plug-in",
    "Detecting Delphi Classes",
    "Corvale",
    "Ctrl-Alt-X",
};

}  // extern "C"
