// The smallest host: loads the module, starts it, asks one question and unloads it.
//   c++ -std=c++20 example-host.cpp -I/usr/include/em_tarnel -lem_tarnel_record -ldl
#include <dlfcn.h>
#include <cstdio>
#include "module/extension_module.h"
#include "module/sip_record.h"
using namespace em;
struct Host : IExtensionHost {  // no lower modules: every request comes back answered, empty
    uint32_t SendRequest(IExtensionModule*, CSipRecord* r, uint32_t) override { r->SetStatus(0); return 1; }
    uint32_t DeliverRecord(IExtensionModule*, CSipRecord*) override { return 1; }
    uint32_t StartCompleted(IExtensionModule*, uint32_t) override { return 1; }
    uint32_t GetSECabinets(uint32_t**, uint8_t* count) override { *count = 0; return 0; }
    uint32_t ForwardEvent(IExtensionModule*, CSipRecord*, uint16_t, uint16_t) override { return 1; }
    uint32_t GetHostType() override { return 1; }
};
int main(int argc, char** argv) {
    void* lib = dlopen(argc > 1 ? argv[1] : "/usr/lib/em_tarnel/libem_tarnel.so", RTLD_NOW);
    if (!lib) return std::printf("%s\n", dlerror()), 1;
    auto create = reinterpret_cast<uint32_t (*)(IExtensionModule**, void*)>(dlsym(lib, "EM_Create"));
    auto destroy = reinterpret_cast<uint32_t (*)()>(dlsym(lib, "EM_Delete"));
    IExtensionModule* module = nullptr;
    Host host;
    create(&module, nullptr);
    module->Start(&host, 0x00200001);
    CSipRecord request(0x0B01, 0, 0, 0, 22);  // is a message log available?
    module->OnRequest(&request);
    std::printf("ST=%u DA=%u\n", request.Value(u"ST"), request.Value(u"DA"));
    module->Stop();
    destroy();
    dlclose(lib);
}
