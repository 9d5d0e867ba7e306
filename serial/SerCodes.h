#pragma once
// The error codes the dispatcher and the device layer return. Every layer
// operation returns 0 or a count on success and one of these (or a negated
// Windows error number, see platform/SysError.h) on failure; only the port
// component turns codes into exceptions.
#include <cstdint>

namespace serial {

enum SerCode : int32_t {
  ecOk = 0,
  ecNoSuchFile = -2,         // negated ERROR_FILE_NOT_FOUND: the open found no port
  ecPathNotFound = -3,       // negated ERROR_PATH_NOT_FOUND: likewise
  ecPortHeld = -5,           // negated ERROR_ACCESS_DENIED: someone holds the port
  ecOutOfMemory = -8,        // the device's own events could not be made
  ecBadParameter = -87,      // negated ERROR_INVALID_PARAMETER: the driver refused a line value
  ecBadArgument = -1002,     // flow limits out of order; a failed escape function
  ecBadId = -2001,           // no such port
  ecCommNotOpen = -2007,     // the dispatcher has no open device
  ecAlreadyOpen = -2008,     // the port is held by another component or program
  ecNoPortSelected = -2011,
  ecNotOpenedByTapi = -2012, // telephony mode: no telephony device on this system
  ecNullApi = -3001,
  ecPutBlockFail = -3004,    // the output ring took no bytes
  ecOutputBufferTooSmall = -3006,
  ecBufferIsEmpty = -3007,
  ecBaseAddressNotSet = -3010,
};

// The code an open reports to the port's user: the port maps a held device
// (-5) to ecAlreadyOpen and a missing one (-2, -3) to ecBadId; every other
// code passes unchanged.
constexpr int32_t OpenResultCode(int32_t openCode) {
  switch (openCode) {
    case ecPortHeld: return ecAlreadyOpen;
    case ecNoSuchFile:
    case ecPathNotFound: return ecBadId;
    default: return openCode;
  }
}

}  // namespace serial
