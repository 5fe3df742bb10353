#include "plugin/RuntimeTypes.h"

#include "binding/BindingConvert.h"
#include "binding/BindingRegistration.h"
#include "plugin/EventNames.h"

namespace Nalo {

void RegisterRuntimeTypes(BindingTypeRegistry& registry) {
  const std::string_view ns = kRuntimeTypeNameSpace;
  RegisterEnum<PluginManagerState>(
      registry, ns, "PluginManagerState", "",
      {
          {"NotReady", PluginManagerState::NotReady},
          {"PluginsInitialized", PluginManagerState::PluginsInitialized},
      });
  RegisterStruct<PluginManagerResource>(registry, ns, "PluginManagerResource", "",
                                        {Field("state", &PluginManagerResource::state)});
  RegisterEnum<PluginResourceEventType>(registry, ns, "PluginResourceEventType", "",
                                        {
                                            {"Create", PluginResourceEventType::Create},
                                            {"Update", PluginResourceEventType::Update},
                                            {"Delete", PluginResourceEventType::Delete},
                                        });
  RegisterStruct<Resource>(registry, ns, "PluginResourceEvent", "",
                           {
                               Field("uri", &Resource::uri),
                               Field("eventType", &Resource::eventType),
                               Field("data", &Resource::data),
                           });
  RegisterStruct<PluginLcdsEvent>(registry, ns, "PluginLcdsEvent", "",
                                  {
                                      Field("clientId", &PluginLcdsEvent::clientId),
                                      Field("subtopic", &PluginLcdsEvent::subtopic),
                                      Field("typeName", &PluginLcdsEvent::typeName),
                                      Field("body", &PluginLcdsEvent::body),
                                  });
  RegisterStruct<PluginLcdsResponse>(registry, ns, "PluginLcdsResponse", "",
                                     {
                                         Field("typeName", &PluginLcdsResponse::typeName),
                                         Field("body", &PluginLcdsResponse::body),
                                     });
  RegisterStruct<PluginServiceProxyResponse>(
      registry, ns, "PluginServiceProxyResponse", "",
      {
          Field("uuid", &PluginServiceProxyResponse::uuid),
          Field("serviceName", &PluginServiceProxyResponse::serviceName),
          Field("methodName", &PluginServiceProxyResponse::methodName),
          Field("payload", &PluginServiceProxyResponse::payload),
          Field("status", &PluginServiceProxyResponse::status),
          Field("error", &PluginServiceProxyResponse::error),
      });
}

namespace {

template <class T>
BindingEventInfo EventInfo(const BindingTypeRegistry& registry, std::string_view name,
                           std::string_view description) {
  BindingEventInfo info;
  info.name = name;
  info.nameSpace = kRuntimeTypeNameSpace;
  info.type = detail::IdentifierOf<T>(registry);
  info.description = description;
  return info;
}

}  // namespace

std::vector<BindingEventInfo> RuntimeEvents(const BindingTypeRegistry& registry) {
  return {
      EventInfo<Resource>(registry, kJsonApiEventName, "Fired when a resource is changed."),
      EventInfo<PluginLcdsEvent>(registry, kLcdsEventName,
                                 "Fired when a message is received over the LCDS connection."),
      EventInfo<PluginServiceProxyResponse>(
          registry, kServiceProxyUuidEventName,
          "Fired when a uuid-based service proxy message is received."),
      EventInfo<PluginServiceProxyResponse>(
          registry, kServiceProxyMethodEventName,
          "Fired when a method-based service proxy message is received."),
      EventInfo<PluginServiceProxyResponse>(
          registry, kServiceProxyAsyncEventName,
          "Fired when an async service proxy message is received."),
  };
}

}  // namespace Nalo
