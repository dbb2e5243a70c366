#pragma once

// Resource ids of the builds of Tavro.exe embedded in the setup (RCDATA); shared
// by the resource script and the code, so keep it free of anything but defines.

// Tavro.exe of the setup's own version, signed by the demo publisher.
#define TAVRO_PAYLOAD_CURRENT 101
// Tavro.exe of a lower version (0.9.0), signed by the demo publisher.
#define TAVRO_PAYLOAD_LOWER_VERSION 102
// Tavro.exe of the setup's own version, signed by the second (not accepted) publisher.
#define TAVRO_PAYLOAD_OTHER_PUBLISHER 103
