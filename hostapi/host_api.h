/*
 * The interface between the importer module and its host: parameter records,
 * routine tables and suites. Plain C with fixed-width types so that the same
 * declarations serve the Windows module, our own host and any other host.
 *
 * Every routine uses the C calling convention. Pointers to routines may be
 * null when a host does not offer them; the module checks what it relies on.
 */
#ifndef QUILLMESH_HOSTAPI_HOST_API_H
#define QUILLMESH_HOSTAPI_HOST_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
typedef char16_t HostChar16;
#else
#include <uchar.h>
typedef char16_t HostChar16;
#endif

#if defined(_WIN32)
#define HOSTAPI_CALL __cdecl
#else
#define HOSTAPI_CALL
#endif

/* A 32-bit error from a routine or suite: 0 is success. */
typedef int32_t HostError;

/* Four-character codes pack their first character into the most significant
 * byte: 'VrsM' is 0x5672734D. Runtime type identifiers share the type. */
typedef uint32_t HostKey;

#define HOST_FOURCC(a, b, c, d)                                                  \
    ((HostKey)(((uint32_t)(uint8_t)(a) << 24) | ((uint32_t)(uint8_t)(b) << 16) | \
               ((uint32_t)(uint8_t)(c) << 8) | (uint32_t)(uint8_t)(d)))

/* A block of host memory. The first pointer-sized word of the record a handle
 * points to is the address of the memory; the rest belongs to the host. */
typedef struct HostHandleRecord {
    void* memory;
} HostHandleRecord;
typedef HostHandleRecord* HostHandle;

/* Opaque host objects. */
typedef struct HostDescriptorObject* DescriptorRef;
typedef struct HostListObject* ActionListRef;
typedef struct HostZStringObject* ZStringRef;
typedef struct HostWriteToken* WriteDescriptorToken;
typedef struct HostPluginObject* PluginRef;
typedef struct HostAccessObject* PluginAccessRef;

typedef struct HostRect16 {
    int16_t top, left, bottom, right;
} HostRect16;

typedef struct HostRect32 {
    int32_t top, left, bottom, right;
} HostRect32;

typedef struct HostSize16 {
    int16_t rows, columns;
} HostSize16;

typedef struct HostSize32 {
    int32_t rows, columns;
} HostSize32;

/* Routines that manage host memory handles. The same table layout serves the
 * FormatRecord's handle routines and the handle suite. */
typedef struct HandleRoutines {
    HostHandle(HOSTAPI_CALL* newHandle)(int32_t size);
    void(HOSTAPI_CALL* disposeHandle)(HostHandle handle);
    void*(HOSTAPI_CALL* lockHandle)(HostHandle handle, uint8_t moveHigh);
    void(HOSTAPI_CALL* unlockHandle)(HostHandle handle);
    int32_t(HOSTAPI_CALL* getHandleSize)(HostHandle handle);
} HandleRoutines;

/* Document resources by type and 1-based index. The same table layout serves
 * the FormatRecord's resource routines and the resource suite. */
typedef struct ResourceRoutines {
    int16_t(HOSTAPI_CALL* countResources)(uint32_t type);
    HostHandle(HOSTAPI_CALL* getResource)(uint32_t type, int16_t index);
    void(HOSTAPI_CALL* deleteResource)(uint32_t type, int16_t index);
    HostError(HOSTAPI_CALL* addResource)(uint32_t type, HostHandle data);
} ResourceRoutines;

typedef int16_t(HOSTAPI_CALL* AdvanceStateRoutine)(void);

/* Scripting: open yields a token (null: no scripting), close turns it into a
 * descriptor handle owned by the caller. */
typedef struct WriteDescriptorRoutines {
    WriteDescriptorToken(HOSTAPI_CALL* openWriteDescriptor)(void);
    HostError(HOSTAPI_CALL* closeWriteDescriptor)(WriteDescriptorToken token,
                                                  HostHandle* descriptor);
} WriteDescriptorRoutines;

typedef struct DescriptorParameters {
    int16_t version;
    int16_t playInfo;
    int16_t recordInfo;
    HostHandle descriptor; /* the scripting descriptor of the operation */
    const WriteDescriptorRoutines* writeRoutines;
    const void* readRoutines;
} DescriptorParameters;

/* The basic suite: every other suite is acquired from it by name and version. */
typedef struct BasicSuite {
    HostError(HOSTAPI_CALL* acquireSuite)(const char* name, int32_t version, const void** suite);
    HostError(HOSTAPI_CALL* releaseSuite)(const char* name, int32_t version);
} BasicSuite;

#define SUITE_ACTION_DESCRIPTOR_NAME "df135115-c769-11d0-8079-00c04fd7ec47"
#define SUITE_ACTION_DESCRIPTOR_VERSION 3
#define SUITE_ACTION_LIST_NAME "df135116-c769-11d0-8079-00c04fd7ec47"
#define SUITE_ACTION_LIST_VERSION 2
#define SUITE_ACTION_CONTROL_NAME "3eb7c480-8797-11d1-8da7-00c04fd5f7ee"
#define SUITE_ACTION_CONTROL_VERSION 1
#define SUITE_ZSTRING_NAME "AS ZString Suite"
#define SUITE_ZSTRING_VERSION 1
#define SUITE_RESOURCE_NAME "Photoshop Resource Suite for Plug-ins"
#define SUITE_RESOURCE_VERSION 3
#define SUITE_HANDLE_NAME "Photoshop Handle Suite for Plug-ins"
#define SUITE_HANDLE_VERSION 2
#define SUITE_SP_ACCESS_NAME "SP Access Suite"
#define SUITE_SP_ACCESS_VERSION 3
#define SUITE_GET_FILE_LIST_NAME "Photoshop GetFileList Suite for Plug-ins"
#define SUITE_GET_FILE_LIST_VERSION 4

/* Action descriptors: ordered keys with typed values. Put routines copy the
 * value they are given; the caller keeps ownership of what it passes in. */
typedef struct ActionDescriptorSuite {
    HostError(HOSTAPI_CALL* make)(DescriptorRef* descriptor);
    HostError(HOSTAPI_CALL* free)(DescriptorRef descriptor);
    HostError(HOSTAPI_CALL* putInteger)(DescriptorRef descriptor, HostKey key, int32_t value);
    HostError(HOSTAPI_CALL* putFloat)(DescriptorRef descriptor, HostKey key, double value);
    HostError(HOSTAPI_CALL* putBoolean)(DescriptorRef descriptor, HostKey key, uint8_t value);
    HostError(HOSTAPI_CALL* putString)(DescriptorRef descriptor, HostKey key, const char* text);
    HostError(HOSTAPI_CALL* putZString)(DescriptorRef descriptor, HostKey key, ZStringRef text);
    HostError(HOSTAPI_CALL* putList)(DescriptorRef descriptor, HostKey key, ActionListRef list);
    HostError(HOSTAPI_CALL* putObject)(DescriptorRef descriptor, HostKey key, HostKey classKey,
                                       DescriptorRef value);
    HostError(HOSTAPI_CALL* putData)(DescriptorRef descriptor, HostKey key, int32_t length,
                                     const void* data);
    /* Flattens the descriptor into a new handle owned by the caller. */
    HostError(HOSTAPI_CALL* asHandle)(DescriptorRef descriptor, HostHandle* handle);
    /* Reads a flattened descriptor back into a new descriptor. */
    HostError(HOSTAPI_CALL* handleToDescriptor)(HostHandle handle, DescriptorRef* descriptor);
} ActionDescriptorSuite;

typedef struct ActionListSuite {
    HostError(HOSTAPI_CALL* make)(ActionListRef* list);
    HostError(HOSTAPI_CALL* free)(ActionListRef list);
    HostError(HOSTAPI_CALL* putInteger)(ActionListRef list, int32_t value);
    HostError(HOSTAPI_CALL* putFloat)(ActionListRef list, double value);
    HostError(HOSTAPI_CALL* putObject)(ActionListRef list, HostKey classKey, DescriptorRef value);
} ActionListSuite;

typedef struct ActionControlSuite {
    /* Gives each distinct string a stable identifier that no four-character
     * code uses. */
    HostError(HOSTAPI_CALL* stringIDToTypeID)(const char* stringID, HostKey* typeID);
} ActionControlSuite;

typedef struct ZStringSuite {
    HostError(HOSTAPI_CALL* makeFromUnicode)(const HostChar16* text, uint32_t length,
                                             ZStringRef* zstring);
    HostError(HOSTAPI_CALL* release)(ZStringRef zstring);
} ZStringSuite;

typedef ResourceRoutines ResourceSuite;
typedef HandleRoutines HandleSuite;

typedef struct PluginAccessInfo {
    void* defaultModule;  /* module handle of the plug-in's code */
    void* resourceModule; /* module handle that holds its resources; may be null */
} PluginAccessInfo;

typedef struct SPAccessSuite {
    HostError(HOSTAPI_CALL* getPluginAccess)(PluginRef plugin, PluginAccessRef* access);
    HostError(HOSTAPI_CALL* getAccessInfo)(PluginAccessRef access, PluginAccessInfo* info);
} SPAccessSuite;

typedef struct GetFileListSuite {
    HostError(HOSTAPI_CALL* browseUrl)(const char* url);
} GetFileListSuite;

/* The file to read: `path` is a NUL-terminated UTF-16 path. */
typedef struct UnicodeFileSpec {
    const HostChar16* path;
} UnicodeFileSpec;

/* Handed to the About selector (0) instead of a FormatRecord. */
typedef struct AboutRecord {
    void* platformData;
    const BasicSuite* basicSuite;
    PluginRef pluginRef;
    uint8_t reserved[232];
} AboutRecord;

/* The host's record for a new 3D layer, reached through threeDLayerSlot. */
typedef struct ThreeDLayerRecord {
    HostHandle sceneDescriptor;
    void* renderTarget;     /* cleared by the module */
    int32_t renderOptions;  /* cleared by the module */
    uint8_t sceneDelivered; /* 1 once sceneDescriptor holds the scene */
    uint8_t reserved[3];
} ThreeDLayerRecord;

/* threeDLayerSlot values below this are markers, not record addresses. */
#define THREE_D_LAYER_SLOT_EMPTY ((intptr_t)0)
#define THREE_D_LAYER_SLOT_WANTED ((intptr_t)1)

/* The parameter block of every file-format selector but About. */
typedef struct FormatRecord {
    int32_t maxData;
    int32_t minDataBytes;
    int32_t maxDataBytes;

    int16_t imageMode;
    HostSize16 imageSize;
    int16_t depth;
    int16_t planes;
    int32_t horizontalResolution; /* 16.16 fixed */
    int32_t verticalResolution;   /* 16.16 fixed */

    void* data;
    HostRect16 rect;
    int16_t firstPlane;
    int16_t lastPlane;
    int16_t columnBytes;
    int32_t rowBytes;
    int32_t planeBytes;
    int16_t planeMap[16];

    const ResourceRoutines* resourceRoutines;
    const HandleRoutines* handleRoutines;
    AdvanceStateRoutine advanceState;
    DescriptorParameters* descriptorParameters;
    const BasicSuite* basicSuite;
    PluginRef pluginRef;

    int32_t hostSupports32BitCoordinates;
    int32_t pluginUsing32BitCoordinates;
    HostSize32 imageSize32;
    HostRect32 rect32;

    HostSize32 requestedSize;
    uint8_t flatImageRequest;
    const UnicodeFileSpec* unicodeFileSpec;
    intptr_t threeDLayerSlot;
} FormatRecord;

/* Selectors passed to the entry point. */
enum {
    kSelectorAbout = 0,
    kSelectorReadPrepare = 1,
    kSelectorReadStart = 2,
    kSelectorReadContinue = 3,
    kSelectorReadFinish = 4,
    kSelectorOptionsPrepare = 5,
    kSelectorOptionsStart = 6,
    kSelectorOptionsContinue = 7,
    kSelectorOptionsFinish = 8,
    kSelectorEstimatePrepare = 9,
    kSelectorEstimateStart = 10,
    kSelectorEstimateContinue = 11,
    kSelectorEstimateFinish = 12,
    kSelectorWritePrepare = 13,
    kSelectorWriteStart = 14,
    kSelectorWriteContinue = 15,
    kSelectorWriteFinish = 16,
    kSelectorFilterFile = 17
};

/* Result codes the module writes. */
#define RESULT_HOST_INSUFFICIENT ((int16_t)-30900)
#define RESULT_IMPORT_FAILED ((int16_t)-30501)
#define RESULT_OUT_OF_MEMORY ((int16_t)-108)

/* The module's entry point. `data` is the host's slot kept between the
 * selectors of one operation; `result` receives the 16-bit result. */
typedef void(HOSTAPI_CALL* PluginMainRoutine)(int16_t selector, void* parameters, intptr_t* data,
                                              int16_t* result);

#ifdef __cplusplus
}
#endif

#endif
