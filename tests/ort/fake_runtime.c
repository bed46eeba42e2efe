/* Stand-ins for a broken ONNX Runtime library, built as libonnxruntime.so.1:
 * with NULL_API it hands out an API base whose GetApi yields no table (a
 * runtime older than the one we need); without it, it lacks OrtGetApiBase. */
#include <stddef.h>
#include <stdint.h>

#ifdef NULL_API

typedef struct {
    const void* (*GetApi)(uint32_t version);
    const char* (*GetVersionString)(void);
} FakeApiBase;

static const void* no_api(uint32_t version) {
    (void)version;
    return NULL;
}

static const char* version(void) {
    return "1.0.0";
}

static const FakeApiBase base = {no_api, version};

const FakeApiBase* OrtGetApiBase(void) {
    return &base;
}

#else

int NotTheRuntime(void) {
    return 0;
}

#endif
