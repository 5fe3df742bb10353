/*
 * Compiled as C99 (and, when the toolchain can, for a 32-bit target) to
 * check that abi/HostAbi.h is a header a host written in C can include,
 * and that the 32-bit layout asserts hold there.
 */
#include "abi/HostAbi.h"

/* Every record can be declared and filled from C. */
int NaloHostAbiCheck(void);
int NaloHostAbiCheck(void) {
  NaloHostValue value;
  NaloHostMember member;
  NaloRequest request;
  NaloResponse response;
  response.status = 200u;
  value.kind = NALO_HOST_VALUE_OBJECT;
  value.payload.object.members = &member;
  value.payload.object.count = 1;
  member.name = "a";
  member.ownsName = 0;
  member.value.kind = NALO_HOST_VALUE_NULL;
  request.method = NALO_METHOD_GET;
  request.path = "/";
  return (int)response.status + (int)value.kind + (int)request.method +
         NaloPluginApiIsCompatible(NALO_PLUGIN_API_MAJOR, NALO_PLUGIN_API_MINOR,
                                   NALO_PLUGIN_API_PATCH, 18u, 5u, 0u);
}
