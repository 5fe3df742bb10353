#pragma once
// The built-in types of every plugin: the records the core and the plugin
// exchange (resource events, LCDS messages and replies, service-proxy
// replies), and the events the runtime subscribes to.
//
// AppModule registers them, under the type name space "nclient", before the
// subclass registers its own types; code that converts them needs nothing
// else.

#include <cstdint>
#include <string>
#include <vector>

#include "binding/BindingHelp.h"
#include "binding/BindingProperty.h"

namespace Nalo {

class BindingTypeRegistry;

inline constexpr std::string_view kRuntimeTypeNameSpace = "nclient";

enum class PluginManagerState : std::int32_t { NotReady = 0, PluginsInitialized = 1 };

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : std::int32_t { Create = 0, Update = 1, Delete = 2 };

// A resource event, registered as "PluginResourceEvent". `data` is empty for
// a Delete.
struct Resource {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingProperty data;
};

// A message of the platform server, registered as "PluginLcdsEvent".
struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingProperty body;
};

// The relay's reply to an LCDS call, registered as "PluginLcdsResponse".
struct PluginLcdsResponse {
  std::string typeName;
  BindingProperty body;
};

// A service-proxy reply, registered as "PluginServiceProxyResponse".
struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

// Registers the types above. Repeating it changes nothing.
void RegisterRuntimeTypes(BindingTypeRegistry& registry);

// OnJsonApiEvent, OnLcdsEvent and the three service-proxy events with their
// payload types and descriptions, for the route description. The types must
// be registered in `registry`.
[[nodiscard]] std::vector<BindingEventInfo> RuntimeEvents(const BindingTypeRegistry& registry);

}  // namespace Nalo
