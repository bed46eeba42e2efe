"""Writes the face-descriptor network as an ONNX model.

The weights come as TensorFlow.js shards: the tensors of the manifest one
after the other, most of them one byte a value with a scale and a minimum of
their own, convolution filters stored height x width x in x out. The model
written takes one aligned face, 1 x 150 x 150 x 3 RGB samples from 0 to 255,
and gives its 128-value descriptor. Each convolution's per-channel scale
layer is folded into its filters and bias.

    python3 descriptor_to_onnx.py WEIGHTS.bin MANIFEST.json DESTINATION.onnx
"""
import json
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

MEAN_RGB = (122.782, 117.001, 104.298)
INPUT_SIDE = 150
RESIDUAL_BLOCKS = ("conv32_1", "conv32_2", "conv32_3")
STAGES = (
    ("conv64_down", ("conv64_1", "conv64_2", "conv64_3")),
    ("conv128_down", ("conv128_1", "conv128_2")),
    ("conv256_down", ("conv256_1", "conv256_2")),
    ("conv256_down_out", ()),
)


def read_weights(weights_path, manifest_path):
    """Every tensor of the shards by name, as float32 arrays."""
    with open(manifest_path, encoding="utf-8") as manifest_file:
        manifest = json.load(manifest_file)
    with open(weights_path, "rb") as weights_file:
        data = weights_file.read()
    tensors, offset = {}, 0
    for entry in (w for group in manifest for w in group["weights"]):
        count = int(np.prod(entry["shape"]))
        quantization = entry.get("quantization")
        if quantization:
            if quantization["dtype"] != "uint8":
                raise ValueError(f"{entry['name']}: {quantization['dtype']} is not uint8")
            raw = np.frombuffer(data, np.uint8, count, offset).astype(np.float64)
            values = raw * quantization["scale"] + quantization["min"]
            offset += count
        else:
            values = np.frombuffer(data, "<f4", count, offset)
            offset += 4 * count
        tensors[entry["name"]] = values.astype(np.float32).reshape(entry["shape"])
    if offset != len(data):
        raise ValueError(f"the manifest describes {offset} bytes, the weights hold {len(data)}")
    return tensors


class Graph:
    def __init__(self, weights):
        self.weights = weights
        self.nodes, self.initializers = [], []

    def constant(self, name, value):
        self.initializers.append(numpy_helper.from_array(np.asarray(value), name))
        return name

    def node(self, op, inputs, name, **attributes):
        self.nodes.append(helper.make_node(op, inputs, [name], name=name, **attributes))
        return name

    def conv(self, x, layer, stride, same, relu):
        w = self.weights
        scale = w[layer + "/scale/weights"]
        filters = w[layer + "/conv/filters"].transpose(3, 2, 0, 1) * scale[:, None, None, None]
        bias = w[layer + "/conv/bias"] * scale + w[layer + "/scale/biases"]
        pad = 1 if same else 0
        y = self.node("Conv", [x, self.constant(layer + "/filters", filters.astype(np.float32)),
                               self.constant(layer + "/bias", bias.astype(np.float32))],
                      layer, strides=[stride, stride], pads=[pad] * 4)
        return self.node("Relu", [y], layer + "/relu") if relu else y

    def residual(self, x, block):
        y = self.conv(x, block + "/conv1", 1, True, True)
        y = self.conv(y, block + "/conv2", 1, True, False)
        return self.node("Relu", [self.node("Add", [y, x], block + "/add")], block)

    def down(self, x, block, channels_in, side_in):
        side_out = (side_in - 3) // 2 + 1
        shortcut_side = side_in // 2
        y = self.conv(x, block + "/conv1", 2, False, True)
        y = self.conv(y, block + "/conv2", 1, True, False)
        channels_out = self.weights[block + "/conv2/conv/filters"].shape[3]
        if side_out < shortcut_side:
            grow = shortcut_side - side_out
            pads = self.constant(block + "/grow", np.array([0, 0, 0, 0, 0, 0, grow, grow], np.int64))
            y = self.node("Pad", [y, pads], block + "/padded")
        shortcut = self.node("AveragePool", [x], block + "/shortcut", kernel_shape=[2, 2],
                             strides=[2, 2])
        if channels_out > channels_in:
            extra = channels_out - channels_in
            pads = self.constant(block + "/zeros",
                                 np.array([0, 0, 0, 0, 0, extra, 0, 0], np.int64))
            shortcut = self.node("Pad", [shortcut, pads], block + "/shortcut_padded")
        added = self.node("Add", [y, shortcut], block + "/add")
        return self.node("Relu", [added], block), channels_out, shortcut_side


def build(weights):
    g = Graph(weights)
    x = g.node("Sub", ["face", g.constant("mean", np.array(MEAN_RGB, np.float32))], "centred")
    x = g.node("Mul", [x, g.constant("step", np.array(1 / 256, np.float32))], "scaled")
    x = g.node("Transpose", [x], "planes", perm=[0, 3, 1, 2])
    x = g.conv(x, "conv32_down", 2, False, True)
    x = g.node("MaxPool", [x], "pooled", kernel_shape=[3, 3], strides=[2, 2])
    side = ((INPUT_SIDE - 7) // 2 + 1 - 3) // 2 + 1
    channels = 32
    for block in RESIDUAL_BLOCKS:
        x = g.residual(x, block)
    for down_block, blocks in STAGES:
        x, channels, side = g.down(x, down_block, channels, side)
        for block in blocks:
            x = g.residual(x, block)
    x = g.node("ReduceMean", [x], "mean_over_face", axes=[2, 3], keepdims=0)
    g.node("MatMul", [x, g.constant("fc", weights["fc"])], "descriptor")
    graph = helper.make_graph(
        g.nodes, "face_descriptor",
        [helper.make_tensor_value_info("face", TensorProto.FLOAT, [1, INPUT_SIDE, INPUT_SIDE, 3])],
        [helper.make_tensor_value_info("descriptor", TensorProto.FLOAT, [1, 128])],
        g.initializers)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)],
                              producer_name="obs-veilcam")
    model.ir_version = 7
    onnx.checker.check_model(model)
    return model


def main(weights_path, manifest_path, destination):
    onnx.save(build(read_weights(weights_path, manifest_path)), destination)


if __name__ == "__main__":
    main(*sys.argv[1:4])
