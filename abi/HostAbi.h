#pragma once
/*
 * HostAbi.h: every record that crosses the boundary between the core (the
 * host application) and this plugin, as one C header that a host written in
 * C99 or C++ can include.
 *
 * The plugin is a shared object with one export, load_<short name>, that
 * takes a NaloPluginRegistration. From there on the two sides meet only
 * through the records below:
 *
 *   core -> plugin   NaloPluginRegistration (export), NaloPluginCallbacks,
 *                    NaloApiDescription and its routes (dispatch entry)
 *   plugin -> core   NaloHostServices and its NaloCoreApi table
 *   both ways        NaloHostValue (data), NaloEvent, NaloRequest,
 *                    NaloResponse
 *
 * Layout. Records are byte-packed (pack 1); pointers and sizes are the
 * platform's own, so the offsets asserted at the end hold for 32-bit
 * targets, and a 64-bit build has wider records (docs/host-abi.md lists
 * both). Texts are NUL-terminated UTF-8 unless a length is given beside
 * them. Every function is called with the platform's C calling convention
 * (NALO_ABI_CALL).
 *
 * Threads. The core calls every plugin callback on its plugin thread, one at
 * a time; the plugin calls the NaloCoreApi entries on that thread too.
 *
 * Memory. Whoever allocates frees: a side never passes the other a block to
 * free with its own allocator. Records handed over for the length of a call
 * belong to the caller and are read-only to the callee, which copies what it
 * keeps. Where a record outlives the call (a dispatch response), it carries
 * the function that releases it, and the receiver calls that function
 * exactly once.
 *
 * Versions. The plugin API version travels in the registration record; a
 * core and a plugin agree when NaloPluginApiIsCompatible says so.
 */

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define NALO_ABI_CALL __cdecl
#else
#define NALO_ABI_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The plugin API version this header describes. */
#define NALO_PLUGIN_API_MAJOR 18u
#define NALO_PLUGIN_API_MINOR 0u
#define NALO_PLUGIN_API_PATCH 0u

/*
 * Non-zero when a plugin built for plugin API `plugin*` may run on a core
 * that speaks `core*`: the same major, and the core's minor.patch not lower
 * than the plugin's.
 */
static inline int NaloPluginApiIsCompatible(uint32_t pluginMajor, uint32_t pluginMinor,
                                            uint32_t pluginPatch, uint32_t coreMajor,
                                            uint32_t coreMinor, uint32_t corePatch) {
  return coreMajor == pluginMajor &&
         (coreMinor > pluginMinor || (coreMinor == pluginMinor && corePatch >= pluginPatch));
}

#pragma pack(push, 1)

/* ------------------------------------------------------------------------
 * Host values: the tagged value through which all data crosses.
 * ------------------------------------------------------------------------ */

typedef uint32_t NaloHostValueKind;
#define NALO_HOST_VALUE_NULL 0u
#define NALO_HOST_VALUE_BOOL 1u
#define NALO_HOST_VALUE_SIGNED 2u   /* int64 */
#define NALO_HOST_VALUE_UNSIGNED 3u /* uint64 */
#define NALO_HOST_VALUE_DOUBLE 4u
#define NALO_HOST_VALUE_TEXT 5u        /* text, not owned by the value */
#define NALO_HOST_VALUE_OWNED_TEXT 6u  /* text owned by the value */
#define NALO_HOST_VALUE_BYTES 7u       /* bytes, not owned by the value */
#define NALO_HOST_VALUE_OWNED_BYTES 8u /* bytes owned by the value */
#define NALO_HOST_VALUE_ARRAY 9u       /* owns its elements */
#define NALO_HOST_VALUE_OBJECT 10u     /* owns its members */

typedef struct NaloHostValue NaloHostValue;
typedef struct NaloHostMember NaloHostMember;

/*
 * A value: a kind and a payload. Texts and bytes carry a pointer and a byte
 * length (a text need not end in NUL; the plugin's own owned texts do, one
 * byte past the length). A null pointer is allowed only with length 0.
 *
 * Ownership. Kinds 6, 8, 9 and 10 own what they point at, and so does each
 * member name whose ownsName is 1. Releasing a value frees owned texts and
 * bytes, every element of an array, every member's value and owned name, and
 * then the element or member block. Only the side that allocated a value may
 * release it (the plugin releases its values with its own function; see
 * NaloResponse.release).
 */
struct NaloHostValue {
  NaloHostValueKind kind;
  union {
    uint8_t boolean; /* 0 or 1 */
    int64_t signedInteger;
    uint64_t unsignedInteger;
    double floating;
    struct {
      const char* data;
      size_t length;
    } text;
    struct {
      const uint8_t* data;
      size_t length;
    } bytes;
    struct {
      NaloHostValue* elements;
      size_t count;
    } array;
    struct {
      NaloHostMember* members;
      size_t count;
    } object;
  } payload;
};

/* A member of an object value. */
struct NaloHostMember {
  const char* name;    /* NUL-terminated */
  NaloHostValue value; /* owned by the member */
  uint8_t ownsName;    /* 1 when releasing the member frees the name */
};

/* ------------------------------------------------------------------------
 * Events.
 * ------------------------------------------------------------------------ */

/*
 * An event, in both directions. Sending (NaloCoreApi.sendEvent): the plugin
 * owns the record and its payload; the core copies what it keeps before
 * returning; reserved and userData are 0. Delivering (a NaloEventCallback):
 * the core owns the record, valid until the callback returns, and userData
 * is the value given to NaloCoreApi.subscribe.
 */
typedef struct NaloEvent {
  const char* name;
  NaloHostValue payload;
  uint32_t reserved; /* 0 */
  void* userData;
} NaloEvent;

/* Called by the core on the plugin thread for each delivered event. */
typedef void(NALO_ABI_CALL* NaloEventCallback)(const NaloEvent* event);

/* Called by the core once, on the plugin thread, when a posted task is due. */
typedef void(NALO_ABI_CALL* NaloTaskCallback)(void* userData);

/* ------------------------------------------------------------------------
 * Requests and responses.
 * ------------------------------------------------------------------------ */

/* Method codes of NaloRequest.method. */
#define NALO_METHOD_NONE 0u
#define NALO_METHOD_DELETE 1u
#define NALO_METHOD_GET 2u
#define NALO_METHOD_HEAD 3u
#define NALO_METHOD_OPTIONS 4u
#define NALO_METHOD_PATCH 5u
#define NALO_METHOD_POST 6u
#define NALO_METHOD_PUT 7u
#define NALO_METHOD_CALL 8u /* a named function call; see functionName */

/* A header, or any name/value text pair. */
typedef struct NaloHeader {
  const char* name;
  const char* value;
} NaloHeader;

/*
 * A call argument passed as a host value. In an outgoing request (plugin to
 * core) the arguments are positional and name is null. In a dispatched
 * request a named argument binds to the function argument of that name, an
 * unnamed one by position.
 */
typedef struct NaloRequestArgument {
  NaloHostValue value;
  const char* name; /* null: positional */
} NaloRequestArgument;

/*
 * A request. Owned by the caller for the length of the call and read-only to
 * the callee. Fields a side doesn't use are zero. The plugin fills method,
 * path, arguments and pluginHandle for an outgoing request; the core fills
 * the rest when it dispatches a request to the plugin.
 */
typedef struct NaloRequest {
  uint32_t method;                      /* NALO_METHOD_* */
  const char* path;                     /* may carry "?query" */
  const NaloRequestArgument* arguments; /* argumentCount entries */
  size_t argumentCount;
  const NaloHeader* headers; /* headerCount entries */
  size_t headerCount;
  const char* contentType; /* of the body; null when none */
  const uint8_t* body;     /* bodyLength bytes */
  size_t bodyLength;
  const char* functionName; /* NALO_METHOD_CALL only */
  uint32_t pluginHandle;    /* the caller's NaloHostServices handle */
  void* callContext;        /* opaque to the plugin */
} NaloRequest;

typedef struct NaloResponse NaloResponse;

/*
 * Reads up to *count bytes of a response body into buffer. On return *count
 * holds the bytes delivered and *more is 1 when more data follows. Returns
 * non-zero on success. Called by the receiver of the response, on the plugin
 * thread, until *more is 0 or a read fails; never after close.
 */
typedef uint8_t(NALO_ABI_CALL* NaloStreamRead)(void* stream, uint8_t* buffer, size_t* count,
                                               uint8_t* more);
/*
 * Releases a body stream. The receiver calls it exactly once when the
 * response has a stream, whether it read the stream to the end or not.
 */
typedef void(NALO_ABI_CALL* NaloStreamClose)(void* stream);
/*
 * Frees every block the filling side allocated for the response (body value,
 * texts, headers), except the stream, which has its own close. The receiver
 * calls it exactly once, when it no longer reads the response; null when
 * there is nothing to free.
 */
typedef void(NALO_ABI_CALL* NaloResponseRelease)(NaloResponse* response);

/*
 * A response, filled by the callee of a request (the core for outgoing
 * requests, the plugin for dispatched ones) in a record the caller provides.
 * error is null for success; otherwise it holds the failure text and status
 * the HTTP-style code. The caller reads the response, then calls release and,
 * when stream is set, close.
 */
struct NaloResponse {
  NaloHostValue body;        /* the result value; kind 0 for no content */
  const char* error;         /* null: success */
  uint8_t flags;             /* passed through from the call result */
  uint8_t format;            /* 1, 2 or 3, else 0; passed through */
  const char* reason;        /* status reason phrase; never null once filled */
  uint32_t status;           /* HTTP-style status code */
  const NaloHeader* headers; /* headerCount response headers */
  size_t headerCount;
  NaloResponseRelease release;
  NaloStreamRead read;
  NaloStreamClose close;
  uint64_t expectedBodySize; /* of the stream, as far as known; 0 otherwise */
  void* stream;              /* null: no body stream */
};

/* ------------------------------------------------------------------------
 * The route description: what the plugin serves.
 * ------------------------------------------------------------------------ */

/*
 * The entry through which the core delivers a request for a route. The core
 * calls it on the plugin thread with the route's handlerData, a response
 * record to fill (its previous contents are ignored) and the request. On
 * return the response is filled, and the core calls response->release (and
 * response->close when response->stream is set) once it has read it.
 */
typedef void(NALO_ABI_CALL* NaloDispatchFunction)(void* handlerData, NaloResponse* response,
                                                  const NaloRequest* request);

/* Argument location codes of NaloRouteMethod.argumentLocations. */
#define NALO_ARGUMENT_ANYWHERE 0u
#define NALO_ARGUMENT_QUERY 1u
#define NALO_ARGUMENT_PATH 2u
#define NALO_ARGUMENT_RESERVED 3u
#define NALO_ARGUMENT_HEADER 4u
#define NALO_ARGUMENT_BODY 5u

/* One method of a route and the function that serves it. */
typedef struct NaloRouteMethod {
  uint32_t method;                  /* NALO_METHOD_*; 0 accepts every method */
  const char* functionName;         /* the bound function's name */
  const char* callName;             /* NALO_METHOD_CALL: the name a request must give */
  const uint8_t* argumentLocations; /* NALO_ARGUMENT_*, one per argument */
  const char* const* argumentNames; /* one per argument, in declaration order */
  size_t argumentCount;
} NaloRouteMethod;

/* One path template and its methods. */
typedef struct NaloRoute {
  uint32_t recordSize; /* sizeof(NaloRoute) as built by the plugin */
  size_t methodCount;
  void* handlerData;                 /* handed back to dispatch unchanged */
  const char* pathTemplate;          /* "/a/{id}/b" */
  const NaloRouteMethod* methods;    /* methodCount entries */
  const char* restriction;           /* non-empty: GET and HEAD only; null when unused */
  const char* pattern;               /* ECMAScript pattern; null for a literal template */
  const char* const* parameterNames; /* parameterCount names, in template order */
  size_t parameterCount;
  uint8_t reserved0[25]; /* zero */
  NaloDispatchFunction dispatch;
  uint8_t reserved1[25]; /* zero */
} NaloRoute;

/*
 * Everything the plugin exposes. Owned by the plugin, valid from the return
 * of the export until Shutdown returns, read-only to the core. functions,
 * types and events are arrays of objects in the help model (the Full help
 * records of the built-in help types).
 */
typedef struct NaloApiDescription {
  uint32_t recordSize; /* sizeof(NaloApiDescription) as built by the plugin */
  const NaloRoute* routes;
  size_t routeCount;
  NaloHostValue functions;
  NaloHostValue types;
  NaloHostValue events;
} NaloApiDescription;

/* ------------------------------------------------------------------------
 * The core's services.
 * ------------------------------------------------------------------------ */

typedef struct NaloCoreApi NaloCoreApi;

/* Log levels of NaloCoreApi.log. */
#define NALO_LOG_OKAY 0u
#define NALO_LOG_WARN 1u
#define NALO_LOG_ERROR 2u
#define NALO_LOG_ALWAYS 3u

/*
 * The core's entries. The plugin calls them only on the plugin thread,
 * between the start of Initialize and the end of Shutdown, passing the table
 * itself first. Texts passed in are copied by the core before it returns.
 */
struct NaloCoreApi {
  /*
   * A synchronous request to another plugin's resource. The core fills
   * *response; the plugin then reads it and calls response->release and, if
   * a stream is set, response->close. May run other callbacks of this plugin
   * before returning.
   */
  void(NALO_ABI_CALL* request)(const NaloCoreApi* core, NaloResponse* response,
                               const NaloRequest* request);
  /* Reserved for the core; the plugin never calls it. */
  uintptr_t(NALO_ABI_CALL* reserved1)(const NaloCoreApi* core, uintptr_t first, uintptr_t second);
  /* Publishes an event of this plugin to the core's subscribers. */
  void(NALO_ABI_CALL* sendEvent)(const NaloCoreApi* core, const NaloEvent* event);
  /*
   * From now on the core calls callback(event) on the plugin thread for each
   * event named `name`, with userData in the event record. flags: 0 for
   * resource events, 1 for platform and service events.
   */
  void(NALO_ABI_CALL* subscribe)(const NaloCoreApi* core, const char* name, uint32_t pluginHandle,
                                 NaloEventCallback callback, void* userData, uint32_t flags);
  /* No further deliveries of `name` to this plugin. */
  void(NALO_ABI_CALL* unsubscribe)(const NaloCoreApi* core, const char* name,
                                   uint32_t pluginHandle);
  /*
   * The core calls callback(userData) once, on the plugin thread, after
   * delaySeconds (>= 0). label names the task in the core's diagnostics.
   * flags is 0. Returns non-zero when the task was accepted.
   */
  uint8_t(NALO_ABI_CALL* postTask)(const NaloCoreApi* core, const char* label,
                                   NaloTaskCallback callback, void* userData, double delaySeconds,
                                   uint32_t flags);
  /* Runs pending core work for this plugin (deliveries, tasks), then returns. */
  void(NALO_ABI_CALL* pump)(const NaloCoreApi* core);
  /* Marks the start of a blocking wait; reserved is 0. */
  void(NALO_ABI_CALL* beginWait)(const NaloCoreApi* core, const char* label, uint32_t reserved);
  /* Marks the end of the wait begun last. */
  void(NALO_ABI_CALL* endWait)(const NaloCoreApi* core);
  /* Writes one line to the core's log; level is NALO_LOG_*. */
  void(NALO_ABI_CALL* log)(const NaloCoreApi* core, uint32_t level, const char* message);
};

/* Given to Initialize; owned by the core and valid until Shutdown returns. */
typedef struct NaloHostServices {
  const NaloCoreApi* core;
  uint32_t pluginHandle; /* how the core knows this plugin */
} NaloHostServices;

/* ------------------------------------------------------------------------
 * Entry and callbacks.
 * ------------------------------------------------------------------------ */

/*
 * The plugin's callbacks, owned by the plugin and valid until Shutdown
 * returns. The core calls each on the plugin thread with the context from the
 * registration record.
 */
typedef struct NaloPluginCallbacks {
  /* Once, after the export. Returns non-zero on success. */
  uint8_t(NALO_ABI_CALL* initialize)(void* context, const NaloHostServices* services);
  /* Once, last; the plugin object and everything it handed out are gone after. */
  void(NALO_ABI_CALL* shutdown)(void* context);
  /* Any time between the export and Shutdown; fills 14 32-bit words. */
  void(NALO_ABI_CALL* getMemoryStatistics)(void* context, uint32_t* words);
} NaloPluginCallbacks;

/*
 * Passed by pointer to the export, once. On entry the version words hold the
 * core's plugin API version; on return they hold the plugin's and the other
 * words are filled. All pointers stay valid until Shutdown returns.
 */
typedef struct NaloPluginRegistration {
  uint32_t major;
  uint32_t minor;
  uint32_t patch;
  const NaloPluginCallbacks* callbacks;
  void* context;                         /* the plugin object */
  const char* shortName;                 /* "tav-gameflow" */
  const NaloApiDescription* description; /* the routes */
} NaloPluginRegistration;

/* The export's type: load_<short name>(registration). */
typedef void(NALO_ABI_CALL* NaloPluginEntry)(NaloPluginRegistration* registration);

/* ------------------------------------------------------------------------
 * Test-only extension: the clock source. A real core never calls it.
 *
 * A plugin shared object may export a second function,
 * nalo_set_clock_source (NALO_CLOCK_SOURCE_EXPORT), through which a test
 * host hands the plugin the clocks it is to read instead of the system's:
 * the monotonic clock behind task and timer deadlines and the wall clock
 * (milliseconds since 1970-01-01 UTC). The stand-in core calls it with its
 * virtual clocks before the export load_<short name>, and with null after
 * Shutdown, which gives the system's clocks back. The record and its
 * context must stay valid until the next call. Both functions are called
 * on any thread that reads a clock and must be safe for that.
 * ------------------------------------------------------------------------ */
#define NALO_CLOCK_SOURCE_EXPORT "nalo_set_clock_source"

typedef struct NaloClockSource {
  void* context;
  uint64_t(NALO_ABI_CALL* monotonicNanoseconds)(void* context);
  uint64_t(NALO_ABI_CALL* wallMilliseconds)(void* context); /* since 1970-01-01 UTC */
} NaloClockSource;

/* The extension's type: nalo_set_clock_source(source or null). */
typedef void(NALO_ABI_CALL* NaloSetClockSource)(const NaloClockSource* source);

/*
 * Test-only extension: log groups. The core's log entry carries a line's
 * level and message, not its groups. After nalo_pass_log_groups(1)
 * (NALO_LOG_GROUPS_EXPORT) the plugin's log target passes
 * "<groups>| <message>" instead of the message, the groups being the
 * line's three-letter codes joined with ";" ("DBG;NET"); 0 restores the
 * bare message. A test host turns it on before load_<short name> and off
 * after Shutdown. A real core never calls it.
 */
#define NALO_LOG_GROUPS_EXPORT "nalo_pass_log_groups"
typedef void(NALO_ABI_CALL* NaloPassLogGroups)(uint32_t on);

#pragma pack(pop)

/* ------------------------------------------------------------------------
 * Layout checks for 32-bit targets.
 * ------------------------------------------------------------------------ */

#if defined(__cplusplus)
#define NALO_ABI_ASSERT(condition, name) static_assert(condition, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define NALO_ABI_ASSERT(condition, name) _Static_assert(condition, #name)
#else
#define NALO_ABI_ASSERT(condition, name) typedef char NaloAbiCheck_##name[(condition) ? 1 : -1]
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
NALO_ABI_ASSERT(sizeof(NaloHostValue) == 12, host_value_size);
NALO_ABI_ASSERT(offsetof(NaloHostValue, payload) == 4, host_value_payload);
NALO_ABI_ASSERT(sizeof(NaloHostMember) == 17, host_member_size);
NALO_ABI_ASSERT(offsetof(NaloHostMember, ownsName) == 16, host_member_owns_name);
NALO_ABI_ASSERT(sizeof(NaloEvent) == 24, event_size);
NALO_ABI_ASSERT(sizeof(NaloRequestArgument) == 16, request_argument_size);
NALO_ABI_ASSERT(sizeof(NaloRequest) == 48, request_size);
NALO_ABI_ASSERT(offsetof(NaloRequest, path) == 4, request_path);
NALO_ABI_ASSERT(offsetof(NaloRequest, arguments) == 8, request_arguments);
NALO_ABI_ASSERT(offsetof(NaloRequest, argumentCount) == 12, request_argument_count);
NALO_ABI_ASSERT(offsetof(NaloRequest, pluginHandle) == 40, request_plugin_handle);
NALO_ABI_ASSERT(offsetof(NaloResponse, error) == 12, response_error);
NALO_ABI_ASSERT(offsetof(NaloResponse, status) == 22, response_status);
NALO_ABI_ASSERT(offsetof(NaloResponse, read) == 38, response_read);
NALO_ABI_ASSERT(offsetof(NaloResponse, close) == 42, response_close);
NALO_ABI_ASSERT(offsetof(NaloResponse, expectedBodySize) == 46, response_expected_size);
NALO_ABI_ASSERT(offsetof(NaloResponse, stream) == 54, response_stream);
NALO_ABI_ASSERT(sizeof(NaloRoute) == 90, route_size);
NALO_ABI_ASSERT(offsetof(NaloRoute, handlerData) == 8, route_handler_data);
NALO_ABI_ASSERT(offsetof(NaloRoute, pathTemplate) == 12, route_template);
NALO_ABI_ASSERT(offsetof(NaloRoute, dispatch) == 61, route_dispatch);
NALO_ABI_ASSERT(sizeof(NaloCoreApi) == 40, core_api_size);
NALO_ABI_ASSERT(sizeof(NaloHostServices) == 8, host_services_size);
NALO_ABI_ASSERT(sizeof(NaloPluginCallbacks) == 12, plugin_callbacks_size);
NALO_ABI_ASSERT(sizeof(NaloPluginRegistration) == 28, registration_size);
NALO_ABI_ASSERT(offsetof(NaloPluginRegistration, description) == 24, registration_description);
NALO_ABI_ASSERT(sizeof(NaloClockSource) == 12, clock_source_size);
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif
