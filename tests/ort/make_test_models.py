"""Writes a small ONNX model shaped like SCRFD's interface whose outputs hold one value.

    python3 make_test_models.py OUTPUT_DIR
"""
import os
import sys

import onnx
from onnx import TensorProto, helper


def model(input_shape, outputs):
    # Outputs declared as SCRFD's lists of anchors; each holds one value when run.
    graph = helper.make_graph(
        nodes=[helper.make_node("ReduceMean", ["input.1"], ["mean"], keepdims=1)] +
              [helper.make_node("Flatten", ["mean"], [f"out{i}"], axis=1) for i in range(outputs)],
        name="test",
        inputs=[helper.make_tensor_value_info("input.1", TensorProto.FLOAT, input_shape)],
        outputs=[helper.make_tensor_value_info(f"out{i}", TensorProto.FLOAT, ["anchors", 1])
                 for i in range(outputs)],
    )
    result = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 13)])
    result.ir_version = 8
    onnx.checker.check_model(result)
    return result


MODELS = {
    "nine_outputs.onnx": (["n", 3, "h", "w"], 9),
}

if __name__ == "__main__":
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, (shape, outputs) in MODELS.items():
        onnx.save(model(shape, outputs), os.path.join(out, name))
