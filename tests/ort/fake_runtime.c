/* A stand-in for an ONNX Runtime older than the one we need, built as
 * libonnxruntime.so.1: its API base hands out no table for our version. */
#include <stddef.h>
#include <stdint.h>

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
