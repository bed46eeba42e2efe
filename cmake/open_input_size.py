"""Writes a copy of a detector model whose input height and width are open.

The published YuNet and SCRFD models declare a 640 x 640 input (or outputs
sized for it), and ONNX Runtime holds a session to the shapes a model
declares. Their layers take any size that is a multiple of 32, so a frame can
be detected at its own aspect ratio, and larger than 640, once the declared
sizes are left open.

    python3 open_input_size.py SOURCE.onnx DESTINATION.onnx
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
        # The anchor count is each output's largest dimension.
        out_dims = output.type.tensor_type.shape.dim
        largest = max(range(len(out_dims)), key=lambda i: out_dims[i].dim_value)
        out_dims[largest].dim_param = "anchors_" + output.name
    # The shapes recorded between layers were worked out for 640 x 640.
    del graph.value_info[:]
    onnx.checker.check_model(model)
    onnx.save(model, destination)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
