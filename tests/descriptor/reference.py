"""The face-descriptor network's forward pass written plainly with numpy,
layer by layer as the network was trained (NHWC, each scale layer applied on
its own), to check the ONNX model the build writes.

    python3 reference.py WEIGHTS.bin MANIFEST.json FACE.f32

FACE.f32 holds one aligned face, 150 x 150 x 3 RGB float32 samples from 0 to
255; the 128 values of its descriptor are printed one a line.
"""
import os
import sys

import numpy as np

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "cmake"))
from descriptor_to_onnx import MEAN_RGB, read_weights  # noqa: E402


def conv(x, w, layer, stride, same, relu):
    filters = w[layer + "/conv/filters"].astype(np.float64)
    size = filters.shape[0]
    if same:
        x = np.pad(x, ((size // 2, size // 2), (size // 2, size // 2), (0, 0)))
    windows = np.lib.stride_tricks.sliding_window_view(x, (size, size), axis=(0, 1))
    windows = windows[::stride, ::stride]  # rows, columns, in, height, width
    y = np.einsum("rcihw,hwio->rco", windows, filters) + w[layer + "/conv/bias"]
    y = y * w[layer + "/scale/weights"] + w[layer + "/scale/biases"]
    return np.maximum(y, 0) if relu else y


def residual(x, w, block):
    y = conv(x, w, block + "/conv1", 1, True, True)
    y = conv(y, w, block + "/conv2", 1, True, False)
    return np.maximum(y + x, 0)


def down(x, w, block):
    y = conv(x, w, block + "/conv1", 2, False, True)
    y = conv(y, w, block + "/conv2", 1, True, False)
    rows, columns = x.shape[0] // 2, x.shape[1] // 2
    shortcut = x[:2 * rows, :2 * columns].reshape(rows, 2, columns, 2, -1).mean(axis=(1, 3))
    shortcut = np.pad(shortcut, ((0, 0), (0, 0), (0, y.shape[2] - shortcut.shape[2])))
    y = np.pad(y, ((0, rows - y.shape[0]), (0, columns - y.shape[1]), (0, 0)))
    return np.maximum(y + shortcut, 0)


def descriptor(face, w):
    x = (face.astype(np.float64) - np.array(MEAN_RGB)) / 256
    x = conv(x, w, "conv32_down", 2, False, True)
    windows = np.lib.stride_tricks.sliding_window_view(x, (3, 3), axis=(0, 1))[::2, ::2]
    x = windows.max(axis=(3, 4))
    for block in ("conv32_1", "conv32_2", "conv32_3"):
        x = residual(x, w, block)
    for down_block, blocks in (("conv64_down", ("conv64_1", "conv64_2", "conv64_3")),
                               ("conv128_down", ("conv128_1", "conv128_2")),
                               ("conv256_down", ("conv256_1", "conv256_2")),
                               ("conv256_down_out", ())):
        x = down(x, w, down_block)
        for block in blocks:
            x = residual(x, w, block)
    return x.mean(axis=(0, 1)) @ w["fc"].astype(np.float64)


def main(weights_path, manifest_path, face_path):
    face = np.fromfile(face_path, np.float32).reshape(150, 150, 3)
    for value in descriptor(face, read_weights(weights_path, manifest_path)):
        print(f"{value:.8f}")


if __name__ == "__main__":
    main(*sys.argv[1:4])
