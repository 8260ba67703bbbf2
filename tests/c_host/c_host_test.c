/* A host written in C, as a host built by another compiler sees the module: a pointer to a table of
 * function pointers, slot k at byte offset 8*k, each taking the object first. It loads the library,
 * drives the module through that table and offers its own table, whose unused slots trap.
 * Usage: em_c_host <path of the module library> */
#include <stdatomic.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define OPEN(path) (void*)LoadLibraryA(path)
#define EXPORT(lib, name) (void*)GetProcAddress((HMODULE)(lib), name)
#define CLOSE(lib) FreeLibrary((HMODULE)(lib))
#else
#include <dlfcn.h>
#define OPEN(path) dlopen(path, RTLD_NOW | RTLD_LOCAL)
#define EXPORT(lib, name) dlsym(lib, name)
#define CLOSE(lib) dlclose(lib)
#endif

/* The host's record code (host_records.cpp). */
size_t HostRecordSize(void);
void* HostRecordNew(uint32_t opcode, uint32_t ext, uint32_t oid, uint32_t cabinet);
void HostRecordFree(void* record);
void HostRecordSetReply(void* record, uint32_t mi, const uint8_t* bytes, size_t count, uint32_t st);
uint32_t HostRecordValue(const void* record, const uint16_t* key);
int HostRecordData(const void* record, uint32_t* value);

/* What a host may read of a record directly. */
typedef struct RecordView {
    const uint16_t* attached_text;
    unsigned char document[96];
    uint32_t current_command;
} RecordView;
_Static_assert(sizeof(RecordView) == 112 && offsetof(RecordView, current_command) == 104, "record layout");

typedef struct Module Module;
typedef struct Host Host;
typedef struct ModuleTable {
    void* (*DeletingDestructor)(Module* self, unsigned int flags);                  /* 0 */
    uint32_t (*GetModuleInfo)(Module* self, void* info);                            /* 1 */
    uint32_t (*OnHardwareDetected)(Module* self, uint32_t arg1, void* arg2);        /* 2 */
    uint32_t (*Start)(Module* self, Host* host, uint32_t module_id);                /* 3 */
    uint32_t (*Stop)(Module* self);                                                 /* 4 */
    void (*DetectCabinets)(Module* self);                                           /* 5 */
    void (*OnReply)(Module* self, void* record);                                    /* 6 */
    uint32_t (*OnRequest)(Module* self, void* record);                              /* 7 */
    uint32_t (*Reserved8)(Module* self);                                            /* 8 */
    uint32_t (*SetCabinetNumber)(Module* self, uint32_t cabinet);                   /* 9 */
    uint32_t (*Reserved10_11[2])(Module* self);                                     /* 10, 11 */
    uint32_t (*Notify)(Module* self, uint32_t code, uintptr_t p1, uintptr_t p2);    /* 12 */
    const uint16_t* (*GetModuleName)(Module* self);                                 /* 13 */
    void (*Reserved14_17[4])(Module* self);                                         /* 14 to 17 */
    uint32_t (*Reserved18_21[4])(Module* self);                                     /* 18 to 21 */
    uint32_t (*OnNotify)(Module* self, uint32_t code, uintptr_t p1, uintptr_t p2);  /* 22 */
} ModuleTable;
_Static_assert(offsetof(ModuleTable, OnRequest) == 8 * 7 && offsetof(ModuleTable, OnNotify) == 8 * 22, "slots");
struct Module {
    const ModuleTable* table;
};

typedef uint32_t (*HostTrap)(Host* self);
typedef struct HostTable {
    HostTrap reserved0_7[8];
    uint32_t (*SendRequest)(Host* self, Module* module, void* record, uint32_t timeout_ms);       /* 8 */
    uint32_t (*DeliverRecord)(Host* self, Module* module, void* record);                         /* 9 */
    uint32_t (*StartCompleted)(Host* self, Module* module, uint32_t reserved);                   /* 10 */
    HostTrap reserved11_13[3];
    uint32_t (*GetSECabinets)(Host* self, uint32_t** cabinets, uint8_t* count);                  /* 14 */
    HostTrap reserved15_24[10];
    uint32_t (*ForwardEvent)(Host* self, Module* module, void* record, uint16_t hi, uint16_t lo); /* 25 */
    uint32_t (*GetHostType)(Host* self);                                                         /* 26 */
} HostTable;
_Static_assert(offsetof(HostTable, GetSECabinets) == 8 * 14 && offsetof(HostTable, GetHostType) == 8 * 26, "host slots");

struct Host {
    const HostTable* table;
    Module* module;
    atomic_int sends, foreign_module, trapped;
    int delivered_0b11, started, se_asked, host_type_asked, forwarded;
    void* event_record;
};

static const uint16_t kST[] = {'S', 'T', 0}, kOC[] = {'O', 'C', 0};

static uint32_t Trap(Host* self) {
    atomic_fetch_add(&self->trapped, 1);
    return 0;
}

/* The lower modules never answer: every request comes back as it went down. */
static uint32_t SendRequest(Host* self, Module* module, void* record, uint32_t timeout_ms) {
    (void)record, (void)timeout_ms;
    atomic_fetch_add(&self->sends, 1);
    if (module != self->module) atomic_fetch_add(&self->foreign_module, 1);
    return 1;
}
static uint32_t DeliverRecord(Host* self, Module* module, void* record) {
    const RecordView* view = record;
    uint32_t first = 0;
    self->delivered_0b11 += module == self->module && HostRecordValue(record, kOC) == 0x0B11 &&
                            HostRecordValue(record, kST) == 255 && HostRecordData(record, &first) && first == 1 &&
                            view->attached_text == NULL && view->current_command == 0;
    return 1;
}
static uint32_t StartCompleted(Host* self, Module* module, uint32_t reserved) {
    self->started += module == self->module && reserved == 0;
    return 1;
}
static uint32_t GetSECabinets(Host* self, uint32_t** cabinets, uint8_t* count) {
    static uint32_t se[] = {1};
    self->se_asked++;
    *cabinets = se;
    *count = 1;
    return 1;
}
static uint32_t ForwardEvent(Host* self, Module* module, void* record, uint16_t hi, uint16_t lo) {
    self->forwarded += module == self->module && record == self->event_record && hi == 0x0003 && lo == 0x8001;
    return 1;
}
static uint32_t GetHostType(Host* self) {
    self->host_type_asked++;
    return 1;
}

static int g_failures;

#define CHECK(cond) \
    ((cond) ? (void)0 : (void)(fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond), g_failures++))

static int SameText(const uint16_t* a, const char* b) {
    if (!a) return 0;
    for (; *b; ++a, ++b)
        if (*a != (unsigned char)*b) return 0;
    return *a == 0;
}

int main(int argc, char** argv) {
    if (argc < 2) return fprintf(stderr, "usage: %s <module library>\n", argv[0]), 2;
    CHECK(HostRecordSize() == sizeof(RecordView));
    void* lib = OPEN(argv[1]);
    if (!lib) return fprintf(stderr, "cannot load %s\n", argv[1]), 2;
    uint32_t (*create)(Module**, void*) = (uint32_t(*)(Module**, void*))EXPORT(lib, "EM_Create");
    uint32_t (*destroy)(void) = (uint32_t(*)(void))EXPORT(lib, "EM_Delete");
    const uint16_t* (*module_name)(void) = (const uint16_t* (*)(void))EXPORT(lib, "EM_GetModuleName");
    uint32_t (*setup)(uint32_t, void*) = (uint32_t(*)(uint32_t, void*))EXPORT(lib, "EM_SetupAction");
    if (!create || !destroy || !module_name || !setup) return fprintf(stderr, "%s lacks an export\n", argv[1]), 2;
    CHECK(SameText(module_name(), "EM_TARNEL") && setup(0, NULL) == 1);

    static HostTable table = {.SendRequest = SendRequest, .DeliverRecord = DeliverRecord, .StartCompleted = StartCompleted,
                              .GetSECabinets = GetSECabinets, .ForwardEvent = ForwardEvent, .GetHostType = GetHostType};
    for (int i = 0; i < 8; ++i) table.reserved0_7[i] = Trap;
    for (int i = 0; i < 3; ++i) table.reserved11_13[i] = Trap;
    for (int i = 0; i < 10; ++i) table.reserved15_24[i] = Trap;
    static Host host = {.table = &table};

    Module* m = NULL;
    if (create(&m, NULL) != 1 || !m) return fprintf(stderr, "no module created\n"), 1;
    host.module = m;
    const ModuleTable* t = m->table;
    unsigned char info[452] = {0};
    uint32_t size = sizeof info;
    uint16_t name[100];
    memcpy(info, &size, 4);
    CHECK(t->GetModuleInfo(m, info) == 1);
    memcpy(name, info + 52, sizeof name);
    CHECK(SameText(name, "EM_TARNEL"));
    CHECK(t->SetCabinetNumber(m, 0) == 1);
    CHECK(t->Start(m, &host, 0x00FE0001) == 1);
    CHECK(host.started == 1 && host.se_asked == 1 && host.host_type_asked >= 1 && atomic_load(&host.sends) > 0);

    /* A new-entries event with one unified record: forwarded, then announced as 0x0B11. */
    uint8_t entry[26] = {26, 0, 0, 2, 0x01, 0x02, 0x21, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0x64, 0x10, 0, 0, 0, 0, 0, 0, 3, 0};
    void* event = host.event_record = HostRecordNew(0x0B16, 0, 0, 0);
    HostRecordSetReply(event, 0x00038001, entry, sizeof entry, 255);
    t->OnReply(m, event);
    CHECK(host.forwarded == 1 && host.delivered_0b11 == 1);
    HostRecordFree(event);

    t->DetectCabinets(m); /* waits for the scans it queued */
    void* count = HostRecordNew(0x0B13, 0, 0, 0);
    CHECK(t->OnRequest(m, count) == 1 && HostRecordValue(count, kST) == 0);
    HostRecordFree(count);
    void* other = HostRecordNew(0x0D00, 0, 0, 0);
    CHECK(t->OnRequest(m, other) == 0 && HostRecordValue(other, kST) == 1);
    HostRecordFree(other);
    CHECK(t->OnHardwareDetected(m, 0, NULL) == 1);
    CHECK(t->Notify(m, 2, 0, 0) == 0 && t->OnNotify(m, 7, 0, 0) == 0);
    CHECK(SameText(t->GetModuleName(m), "EM_TARNEL"));
    CHECK(t->Stop(m) == 1);
    CHECK(destroy() == 1 && destroy() == 0); /* through slot 0, freeing */
    CHECK(atomic_load(&host.foreign_module) == 0 && atomic_load(&host.trapped) == 0);

    CLOSE(lib);
    if (g_failures) fprintf(stderr, "%d check(s) failed\n", g_failures);
    else printf("C host: all checks passed\n");
    return g_failures ? 1 : 0;
}
