"""Writes YuNet with a symbolic input height and width.

The published model declares a 640 x 640 input, and ONNX Runtime holds a
session to the shapes a model declares. Its layers take any size that is a
multiple of 32, so the frame's own aspect ratio can be detected without
letterboxing once the declared sizes are left open.

    python3 yunet_any_size.py SOURCE.onnx DESTINATION.onnx
"""
import sys

import onnx


def main(source, destination):
    model = onnx.load(source)
    graph = model.graph
    dims = graph.input[0].type.tensor_type.shape.dim
    dims[2].dim_param = "height"
    dims[3].dim_param = "width"
    for output in graph.output:
        output.type.tensor_type.shape.dim[1].dim_param = "anchors_" + output.name
    # The shapes recorded between layers were worked out for 640 x 640.
    del graph.value_info[:]
    onnx.checker.check_model(model)
    onnx.save(model, destination)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
