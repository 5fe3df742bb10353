/*
 * A small plugin written in C straight against HostAbi.h, for the host's own
 * tests. Short name "hostfixture"; one route, /hostfixture/v1/{action}:
 *
 *   echo     answers the request body as a text
 *   fetch    GETs the path given as query ("fetch?/a/b") through the core,
 *            reading the stream in 4096-byte calls and yielding between
 *            pieces; answers "<read calls>:<text>", or the error
 *   later    posts a task due after the query's seconds ("later?1.5") that
 *            logs "fixture: task N ran"
 *   publish  sends OnJsonApiEvent_hostfixture_v1_value with the body as data
 *   wait     waits (BeginWait, Pump...) until a task due in 10 s has run
 *   crash    logs "fixture: fatal ALE-12345678" and aborts
 *   exit     ends the process at once with the query's code ("exit?1")
 *
 * It subscribes to OnJsonApiEvent_peer_v1_thing and
 * OnLcdsEvent_com_example_Game and logs each delivery as
 * "fixture: event <name> <uri or typeName> <eventType>".
 *
 * FIXTURE_INCOMPLETE leaves the route description out of the registration;
 * FIXTURE_NO_EXPORT has no load_ export at all.
 */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "abi/HostAbi.h"

#define EXPORT __attribute__((visibility("default")))

static const NaloCoreApi* gCore;
static uint32_t gHandle;
static int gTaskCount;
static int gWaitDone;

static void Log(const char* text) {
  if (gCore != NULL) {
    gCore->log(gCore, NALO_LOG_OKAY, text);
  }
}

static const char* MemberText(const NaloHostValue* value, const char* name) {
  size_t i;
  if (value->kind != NALO_HOST_VALUE_OBJECT) {
    return "";
  }
  for (i = 0; i < value->payload.object.count; ++i) {
    const NaloHostMember* member = &value->payload.object.members[i];
    if (strcmp(member->name, name) == 0 && (member->value.kind == NALO_HOST_VALUE_TEXT ||
                                            member->value.kind == NALO_HOST_VALUE_OWNED_TEXT)) {
      return member->value.payload.text.data;
    }
  }
  return "";
}

static void NALO_ABI_CALL OnEvent(const NaloEvent* event) {
  char line[512];
  const char* subject = MemberText(&event->payload, "uri");
  if (subject[0] == '\0') {
    subject = MemberText(&event->payload, "typeName");
  }
  snprintf(line, sizeof line, "fixture: event %s %s %s", event->name, subject,
           MemberText(&event->payload, "eventType"));
  Log(line);
}

static void NALO_ABI_CALL OnTask(void* userData) {
  char line[64];
  snprintf(line, sizeof line, "fixture: task %d ran", (int)(size_t)userData);
  Log(line);
}

static void NALO_ABI_CALL OnWaitTask(void* userData) {
  (void)userData;
  gWaitDone = 1;
}

static char* CopyText(const char* data, size_t length) {
  char* copy = malloc(length + 1);
  memcpy(copy, data, length);
  copy[length] = '\0';
  return copy;
}

static void NALO_ABI_CALL Release(NaloResponse* response) {
  if (response->body.kind == NALO_HOST_VALUE_OWNED_TEXT) {
    free((void*)response->body.payload.text.data);
  }
  if (response->error != NULL) {
    free((void*)response->error);
  }
}

static void AnswerText(NaloResponse* response, const char* data, size_t length) {
  response->status = 200;
  response->reason = "OK";
  response->body.kind = NALO_HOST_VALUE_OWNED_TEXT;
  response->body.payload.text.data = CopyText(data, length);
  response->body.payload.text.length = length;
}

static void AnswerError(NaloResponse* response, uint32_t status, const char* error) {
  response->status = status;
  response->reason = "Error";
  response->error = CopyText(error, strlen(error));
}

static void Fetch(NaloResponse* response, const char* path) {
  NaloRequest request;
  NaloResponse reply;
  char text[8192];
  char answer[8300];
  size_t length = 0;
  int calls = 0;
  memset(&request, 0, sizeof request);
  memset(&reply, 0, sizeof reply);
  request.method = NALO_METHOD_GET;
  request.path = path;
  request.pluginHandle = gHandle;
  gCore->request(gCore, &reply, &request);
  if (reply.error != NULL) {
    AnswerError(response, reply.status, reply.error);
  } else if (reply.stream != NULL) {
    uint8_t more = 1;
    while (more) {
      size_t count = sizeof text - length < 4096 ? sizeof text - length : 4096;
      ++calls;
      if (!reply.read(reply.stream, (uint8_t*)text + length, &count, &more)) {
        break;
      }
      length += count;
      if (more && count < 4096) {
        gCore->beginWait(gCore, "Wait: yield", 0);
        gCore->pump(gCore);
        gCore->endWait(gCore);
      }
    }
    snprintf(answer, sizeof answer, "%d:%.*s", calls, (int)length, text);
    AnswerText(response, answer, strlen(answer));
  } else {
    AnswerText(response, "0:", 2);
  }
  if (reply.stream != NULL) {
    reply.close(reply.stream);
  }
  if (reply.release != NULL) {
    reply.release(&reply);
  }
}

static void Publish(const NaloRequest* request) {
  NaloHostMember members[3];
  NaloEvent event;
  memset(members, 0, sizeof members);
  memset(&event, 0, sizeof event);
  members[0].name = "data";
  members[0].value.kind = NALO_HOST_VALUE_TEXT;
  members[0].value.payload.text.data = (const char*)request->body;
  members[0].value.payload.text.length = request->bodyLength;
  members[1].name = "eventType";
  members[1].value.kind = NALO_HOST_VALUE_TEXT;
  members[1].value.payload.text.data = "Create";
  members[1].value.payload.text.length = 6;
  members[2].name = "uri";
  members[2].value.kind = NALO_HOST_VALUE_TEXT;
  members[2].value.payload.text.data = "/hostfixture/v1/value";
  members[2].value.payload.text.length = strlen("/hostfixture/v1/value");
  event.name = "OnJsonApiEvent_hostfixture_v1_value";
  event.payload.kind = NALO_HOST_VALUE_OBJECT;
  event.payload.payload.object.members = members;
  event.payload.payload.object.count = 3;
  gCore->sendEvent(gCore, &event);
}

static void NALO_ABI_CALL Dispatch(void* handlerData, NaloResponse* response,
                                   const NaloRequest* request) {
  const char* action = request->path + strlen("/hostfixture/v1/");
  const char* query = strchr(request->path, '?');
  (void)handlerData;
  memset(response, 0, sizeof *response);
  response->release = &Release;
  if (strncmp(action, "echo", 4) == 0) {
    AnswerText(response, (const char*)request->body, request->bodyLength);
  } else if (strncmp(action, "fetch", 5) == 0 && query != NULL) {
    Fetch(response, query + 1);
  } else if (strncmp(action, "later", 5) == 0 && query != NULL) {
    /* The task's number travels as its context. */
    /* NOLINTNEXTLINE(performance-no-int-to-ptr) */
    gCore->postTask(gCore, "later", &OnTask, (void*)(size_t)++gTaskCount, atof(query + 1), 0);
    response->status = 204;
    response->reason = "No Content";
  } else if (strncmp(action, "publish", 7) == 0) {
    Publish(request);
    response->status = 204;
    response->reason = "No Content";
  } else if (strncmp(action, "wait", 4) == 0) {
    gWaitDone = 0;
    gCore->postTask(gCore, "wake", &OnWaitTask, NULL, 10.0, 0);
    gCore->beginWait(gCore, "Wait: future<fixture>", 0);
    while (!gWaitDone) {
      gCore->pump(gCore);
    }
    gCore->endWait(gCore);
    AnswerText(response, "woke", 4);
  } else if (strncmp(action, "exit", 4) == 0 && query != NULL) {
    _exit(atoi(query + 1));
  } else if (strncmp(action, "crash", 5) == 0) {
    Log("fixture: fatal ALE-12345678");
    abort();
  } else {
    AnswerError(response, 404, "Invalid function");
  }
}

static const NaloRouteMethod kMethods[] = {{0, "Fixture", NULL, NULL, NULL, 0}};
static NaloRoute gRoute;
static NaloApiDescription gDescription;

static uint8_t NALO_ABI_CALL Initialize(void* context, const NaloHostServices* services) {
  (void)context;
  gCore = services->core;
  gHandle = services->pluginHandle;
  gCore->subscribe(gCore, "OnJsonApiEvent_peer_v1_thing", gHandle, &OnEvent, NULL, 0);
  gCore->subscribe(gCore, "OnLcdsEvent_com_example_Game", gHandle, &OnEvent, NULL, 1);
  Log("fixture: initialized");
  return 1;
}

static void NALO_ABI_CALL Shutdown(void* context) {
  (void)context;
  gCore->unsubscribe(gCore, "OnJsonApiEvent_peer_v1_thing", gHandle);
  gCore->unsubscribe(gCore, "OnLcdsEvent_com_example_Game", gHandle);
  gCore = NULL;
}

static void NALO_ABI_CALL MemoryStatistics(void* context, uint32_t* words) {
  int i;
  (void)context;
  for (i = 0; i < 14; ++i) {
    words[i] = (uint32_t)i;
  }
}

static const NaloPluginCallbacks kCallbacks = {&Initialize, &Shutdown, &MemoryStatistics};
static int gContext;

#ifdef FIXTURE_NO_EXPORT
EXPORT void start_hostfixture(NaloPluginRegistration* registration) {
#else
EXPORT void load_hostfixture(NaloPluginRegistration* registration) {
#endif
  if (!NaloPluginApiIsCompatible(NALO_PLUGIN_API_MAJOR, NALO_PLUGIN_API_MINOR,
                                 NALO_PLUGIN_API_PATCH, registration->major, registration->minor,
                                 registration->patch)) {
    fprintf(stderr, "hostfixture: fatal ALE-EECF0606\n");
    abort();
  }
  gRoute.recordSize = sizeof gRoute;
  gRoute.methodCount = 1;
  gRoute.pathTemplate = "/hostfixture/v1/{action}";
  gRoute.methods = kMethods;
  gRoute.pattern = "/hostfixture/v1/([^/]*)";
  gRoute.dispatch = &Dispatch;
  gDescription.recordSize = sizeof gDescription;
  gDescription.routes = &gRoute;
  gDescription.routeCount = 1;
  registration->major = NALO_PLUGIN_API_MAJOR;
  registration->minor = NALO_PLUGIN_API_MINOR;
  registration->patch = NALO_PLUGIN_API_PATCH;
  registration->callbacks = &kCallbacks;
  registration->context = &gContext;
  registration->shortName = "hostfixture";
#ifndef FIXTURE_INCOMPLETE
  registration->description = &gDescription;
#endif
}
