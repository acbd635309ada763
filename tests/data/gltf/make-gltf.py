#!/usr/bin/env python3
"""Writes the glTF test files of this folder: run it here (python3 make-gltf.py) to make them
again. A cube four ways (.gltf with cube.bin, .gltf with an embedded buffer, .glb, .gltf with
positions and normals interleaved), a node tree, the cube at rest and moved, vertex colours, a
textured quad (.gltf naming a PNG of tests/data, .glb holding it, another .glb holding a blue
picture) and hostile files, each with one fault the reader must refuse."""
import base64
import json
import math
import struct
import zlib

FLOAT, UBYTE, USHORT = 5126, 5121, 5123


def cube():
    """24 vertices (4 a face, so each face has its own normal), 12 triangles."""
    pos, nrm, uv, idx = [], [], [], []
    for axis in range(3):
        for sign in (1, -1):
            n = [0, 0, 0]
            n[axis] = sign
            a, b = (axis + 1) % 3, (axis + 2) % 3
            base = len(pos)
            for du, dv in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
                p = [0, 0, 0]
                p[axis], p[a], p[b] = sign, du * sign, dv
                pos.append(p)
                nrm.append(n)
                uv.append([(du + 1) / 2, (dv + 1) / 2])
            idx += [base, base + 1, base + 2, base, base + 2, base + 3]
    return pos, nrm, uv, idx


def pack(fmt, rows):
    return b"".join(struct.pack("<" + fmt, *(r if isinstance(r, list) else [r])) for r in rows)


def document(parts, nodes, meshes, materials=None, extra=None):
    """A glTF document of one buffer made of `parts`: (bytes, accessor fields or None)."""
    blob, views, accessors = b"", [], []
    for data, accessor in parts:
        while len(blob) % 4:
            blob += b"\0"
        views.append({"buffer": 0, "byteOffset": len(blob), "byteLength": len(data)})
        blob += data
        if accessor:
            accessors.append(dict(accessor, bufferView=len(views) - 1))
    doc = {"asset": {"version": "2.0", "generator": "make-gltf.py"}, "scene": 0,
           "scenes": [{"nodes": [i for i, n in enumerate(nodes) if not n.pop("_child", False)]}],
           "nodes": nodes, "meshes": meshes, "accessors": accessors, "bufferViews": views,
           "buffers": [{"byteLength": len(blob)}]}
    if materials:
        doc["materials"] = materials
    doc.update(extra or {})
    return doc, blob


def embedded(doc, blob):
    doc["buffers"][0]["uri"] = "data:application/octet-stream;base64," + \
        base64.b64encode(blob).decode()
    return doc


def text(doc):
    return json.dumps(doc, indent=1) + "\n"


def glb(doc, blob):
    js = json.dumps(doc).encode()
    js += b" " * (-len(js) % 4)
    blob += b"\0" * (-len(blob) % 4)
    body = struct.pack("<II", len(js), 0x4E4F534A) + js + struct.pack("<II", len(blob), 0x004E4942) + blob
    return struct.pack("<III", 0x46546C67, 2, 12 + len(body)) + body


def write(name, data):
    with open(name, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def cube_doc(indices=None, positions=None, view_stride=None):
    pos, nrm, uv, idx = cube()
    parts = [(pack("3f", pos), positions or {"componentType": FLOAT, "count": 24, "type": "VEC3",
                                             "min": [-1, -1, -1], "max": [1, 1, 1]}),
             (pack("3f", nrm), {"componentType": FLOAT, "count": 24, "type": "VEC3"}),
             (pack("2f", uv), {"componentType": FLOAT, "count": 24, "type": "VEC2"}),
             (pack("H", indices or idx), {"componentType": USHORT, "count": 36, "type": "SCALAR"})]
    doc, blob = document(parts, [{"name": "Cube", "mesh": 0, "translation": [0, 2, 0],
                                    "rotation": [0, math.sqrt(0.5), 0, math.sqrt(0.5)],
                                    "scale": [1, 2, 1]}],
                         [{"name": "Cube", "primitives": [{"attributes": {
                             "POSITION": 0, "NORMAL": 1, "TEXCOORD_0": 2}, "indices": 3,
                             "material": 0}]}],
                         [{"name": "Red", "pbrMetallicRoughness": {
                             "baseColorFactor": [0.8, 0.2, 0.1, 0.5]}}])
    if view_stride:
        doc["bufferViews"][0]["byteStride"] = view_stride
    return doc, blob


doc, blob = cube_doc()
write("cube.bin", blob)
write("cube.gltf", text(dict(doc, buffers=[{"byteLength": len(blob), "uri": "cube.bin"}])))
write("cube-embedded.gltf", text(embedded(*cube_doc())))
write("cube.glb", glb(*cube_doc()))
# Positions and normals interleaved in one view (stride 24), the last normal ending it.
doc, blob = cube_doc()
pos, nrm, uv, idx = cube()
blob = pack("6f", [p + n for p, n in zip(pos, nrm)]) + blob[576:]
doc["bufferViews"][0].update(byteLength=576, byteStride=24)
doc["accessors"][1].update(bufferView=0, byteOffset=12)
write("cube-interleaved.gltf", text(embedded(doc, blob)))

# A node tree: Parent (turned 90 degrees about z, moved 10 along x) holds Child (moved 1 along x,
# scaled 2); Mirror (x scaled -1) is a second root. All three show one triangle facing +z,
# without a material.
s = math.sqrt(0.5)
tri = [(pack("3f", [[0, 0, 0], [1, 0, 0], [0, 1, 0]]),
        {"componentType": FLOAT, "count": 3, "type": "VEC3"}),
       (pack("3f", [[0, 0, 1]] * 3), {"componentType": FLOAT, "count": 3, "type": "VEC3"})]
doc, blob = document(tri, [{"name": "Parent", "mesh": 0, "children": [1], "translation": [10, 0, 0],
                            "rotation": [0, 0, s, s]},
                           {"name": "Child", "mesh": 0, "translation": [1, 0, 0],
                            "scale": [2, 2, 2], "_child": True},
                           {"name": "Mirror", "mesh": 0, "scale": [-1, 1, 1]}],
                     [{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1}}]}])
write("hierarchy.gltf", text(embedded(doc, blob)))

# The cube at rest (a node without a transform) and moved 5 along z, one mesh: normals twice
# unit length, indices as packed 32-bit numbers.
pos, nrm, uv, idx = cube()
doc, blob = document([(pack("3f", pos), {"componentType": FLOAT, "count": 24, "type": "VEC3"}),
                      (pack("3f", [[2 * c for c in n] for n in nrm]),
                       {"componentType": FLOAT, "count": 24, "type": "VEC3"}),
                      (pack("2f", uv), {"componentType": FLOAT, "count": 24, "type": "VEC2"}),
                      (pack("I", idx), {"componentType": 5125, "count": 36, "type": "SCALAR"})],
                     [{"name": "Rest", "mesh": 0}, {"name": "Moved", "mesh": 0,
                                                     "translation": [0, 0, 5]}],
                     [{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1,
                                                      "TEXCOORD_0": 2}, "indices": 3}]}])
write("rest.gltf", text(embedded(doc, blob)))

# Vertex colours on that triangle: as normalized unsigned bytes with alpha (full red, green 51,
# blue 188), and as float triples (0.2, 0.5 and 1 turned about, one a NaN, read as 0) on a
# primitive without normals; then, refused, the bytes without "normalized" and bytes for two of
# the three vertices.
def colour_doc(normalized=True, colours=3):
    parts = tri + [(pack("4B", [[255, 0, 0, 255], [0, 51, 0, 255], [0, 0, 188, 128]]),
                    dict({"componentType": UBYTE, "count": colours, "type": "VEC4"},
                         **({"normalized": True} if normalized else {}))),
                   (pack("3f", [[0.2, 0.5, 1], [1, 0.2, 0.5], [0.5, float("nan"), 0.2]]),
                    {"componentType": FLOAT, "count": 3, "type": "VEC3"})]
    return embedded(*document(parts, [{"name": "Bytes", "mesh": 0}, {"name": "Floats", "mesh": 1}],
                              [{"primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1,
                                                               "COLOR_0": 2}}]},
                               {"primitives": [{"attributes": {"POSITION": 0, "COLOR_0": 3}}]}]))


write("colours.gltf", text(colour_doc()))
write("bad-colour.gltf", text(colour_doc(normalized=False)))
write("bad-colour-count.gltf", text(colour_doc(colours=2)))

# A textured quad, its texture coordinates unsigned shorts normalized, its indices bytes, its
# picture moved, turned and scaled by KHR_texture_transform.
quad = [(pack("3f", [[-1, -1, 0], [1, -1, 0], [1, 1, 0], [-1, 1, 0]]),
         {"componentType": FLOAT, "count": 4, "type": "VEC3"}),
        (pack("2H", [[0, 65535], [65535, 65535], [65535, 0], [0, 0]]),
         {"componentType": USHORT, "normalized": True, "count": 4, "type": "VEC2"}),
        (pack("B", [0, 1, 2, 0, 2, 3]), {"componentType": UBYTE, "count": 6, "type": "SCALAR"})]
transform = {"KHR_texture_transform": {"offset": [0.25, 0.5], "rotation": 0.5, "scale": [2, 2]}}
material = [{"name": "Picture", "pbrMetallicRoughness": {"baseColorTexture": {
    "index": 0, "extensions": transform}}}]
mesh = [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1}, "indices": 2,
                         "material": 0}]}]
doc, blob = document(quad, [{"name": "Quad", "mesh": 0}], mesh, material,
                     {"textures": [{"source": 0}], "images": [{"uri": "../png/kinds/c0d02i-11x9.png"}],
                      "extensionsUsed": ["KHR_texture_transform"]})
write("quad.gltf", text(embedded(doc, blob)))
with open("../png/kinds/c0d02i-11x9.png", "rb") as f:
    picture = f.read()
doc, blob = document(quad + [(picture, None)], [{"name": "Quad", "mesh": 0}], mesh, material,
                     {"textures": [{"source": 0}],
                      "images": [{"bufferView": 3, "mimeType": "image/png"}]})
write("quad.glb", glb(doc, blob))


def png(width, height, rgb):
    """A one-colour RGB PNG."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + \
            struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) + \
        chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


# The quad holding a blue picture, no texture transform: drawn blue where it stands.
doc, blob = document(quad + [(png(4, 4, [0, 0, 255]), None)], [{"name": "Quad", "mesh": 0}],
                     [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1},
                                       "indices": 2, "material": 0}]}],
                     [{"name": "Blue", "pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
                     {"textures": [{"source": 0}],
                      "images": [{"bufferView": 3, "mimeType": "image/png"}]})
write("picture.glb", glb(doc, blob))

# Hostile files, one fault each.
pos, nrm, uv, idx = cube()
write("bad-index.gltf", text(embedded(*cube_doc(indices=idx[:5] + [24] + idx[6:]))))
write("bad-last-index.gltf", text(embedded(*cube_doc(indices=idx[:35] + [30]))))
write("bad-far-index.gltf", text(embedded(*cube_doc(indices=idx[:9] + [60000] + idx[10:]))))
write("bad-accessor.gltf", text(embedded(*cube_doc(positions={
    "componentType": FLOAT, "count": 25, "type": "VEC3"}))))
write("bad-stride.gltf", text(embedded(*cube_doc(view_stride=11))))
doc, blob = cube_doc()
doc["accessors"][2]["count"] = 23  # texture coordinates for all but the last vertex
write("bad-texcoord.gltf", text(embedded(doc, blob)))
doc, blob = cube_doc()
doc["nodes"] = [{"name": "A", "mesh": 0}, {"name": "B", "children": [2]}, {"name": "C", "children": [1]}]
doc["scenes"] = [{"nodes": [0]}]
write("bad-cycle.gltf", text(embedded(doc, blob)))
doc["nodes"] = [{"children": [2]}, {"children": [2]}, {"mesh": 0}]
doc["scenes"] = [{"nodes": [0, 1]}]
write("bad-parents.gltf", text(embedded(doc, blob)))
write("bad-json.gltf", text(embedded(*cube_doc())).replace('"name": "Red",', '"name": "Red"', 1))
good = glb(*cube_doc())
write("bad-length.glb", good[:8] + struct.pack("<I", len(good) + 4) + good[12:])
json_len = struct.unpack("<I", good[12:16])[0]
write("bad-json-chunk.glb", good[:12] + struct.pack("<I", len(good)) + good[16:])
at = 20 + json_len
write("bad-bin-chunk.glb", good[:at] + struct.pack("<I", len(good) - at - 7) + good[at + 4:])

# Nodes in motion: Rig (moved 10 along x, turned 90 degrees about y) holds Camera and Mover;
# three lights, one of each kind; two cameras, the first also on Lamp. The animation "Fly": the camera's translation
# in STEP keys, Mover's rotation in LINEAR keys (0, 90 and 180 degrees about y, the last
# written with its sign flipped, as exporters do), Mover's translation in one CUBICSPLINE
# interval (keys at 1 and 3 s), and a morph target weights channel the reader passes over.
def q_y(degrees):
    h = math.radians(degrees) / 2
    return [0, math.sin(h), 0, math.cos(h)]


def animated(fault=None):
    times = [0, 1, 1] if fault == "times" else [0, 1, 2]
    flip = [-x for x in q_y(180)]
    cubic = [[0, 0, 0], [0, 0, 0], [0, 4, 0],       # in-tangent, value, out-tangent at 1 s
             [0, 0, -2], [2, 0, 0], [0, 0, 0]]      # and at 3 s
    parts = tri + [
        (pack("f", times), {"componentType": FLOAT, "count": 3, "type": "SCALAR"}),
        (pack("3f", [[0, 1, 5], [0, 2, 5], [0, 3, 5]]),
         {"componentType": FLOAT, "count": 3, "type": "VEC3"}),
        (pack("4f", [q_y(0), q_y(90), flip]),
         {"componentType": FLOAT, "count": 2 if fault == "output" else 3, "type": "VEC4"}),
        (pack("f", [1, 3]), {"componentType": FLOAT, "count": 2, "type": "SCALAR"}),
        (pack("3f", cubic),
         {"componentType": FLOAT, "count": 2 if fault == "cubic" else 6, "type": "VEC3"}),
        (pack("f", [0, 1]), {"componentType": FLOAT, "count": 2, "type": "SCALAR"})]
    nodes = [{"name": "Rig", "children": [1, 2], "translation": [10, 0, 0], "rotation": q_y(90)},
             {"name": "Camera", "camera": 0, "translation": [0, 1, 5], "_child": True},
             {"name": "Mover", "mesh": 0, "_child": True},
             {"name": "Sun", "rotation": [-s, 0, 0, s],
              "extensions": {"KHR_lights_punctual": {"light": 0}}},
             {"name": "Lamp", "translation": [0, 3, 0], "camera": 0,
              "extensions": {"KHR_lights_punctual": {"light": 1}}},
             {"name": "Spot", "translation": [0, 4, 0], "camera": 1,
              "extensions": {"KHR_lights_punctual": {"light": 2}}}]
    channels = [{"sampler": 0, "target": {"node": 1, "path": "translation"}},
                {"sampler": 1, "target": {"node": 2, "path": "rotation"}},
                {"sampler": 2, "target": {"node": 2, "path": "translation"}},
                {"sampler": 3, "target": {"node": 2, "path": "weights"}}]
    if fault == "node":
        channels[1]["target"]["node"] = 6
    if fault == "sampler":
        channels[2]["sampler"] = 7
    samplers = [{"input": 2, "output": 3, "interpolation": "STEP"},
                {"input": 2, "output": 4},
                {"input": 5, "output": 6, "interpolation": "CUBICSPLINE"},
                {"input": 7, "output": 7}]
    extra = {"cameras": [{"name": "Lens", "type": "perspective", "perspective": {
                 "yfov": 0.8, "znear": 0.1, "aspectRatio": 1.5}},
                         {"name": "Plan", "type": "orthographic", "orthographic": {
                 "xmag": 4, "ymag": 2, "znear": 0.5, "zfar": 50}}],
             "extensionsUsed": ["KHR_lights_punctual"],
             "extensions": {"KHR_lights_punctual": {"lights": [
                 {"name": "SunLight", "type": "directional", "color": [1, 0.9, 0.8],
                  "intensity": 3},
                 {"name": "LampLight", "type": "point", "intensity": 100, "range": 10},
                 {"type": "spot", "intensity": 50, "spot": {
                     "innerConeAngle": 0.2, "outerConeAngle": 0.1 if fault == "spot" else 0.6}}]}},
             "animations": [{"name": "Fly", "channels": channels, "samplers": samplers}]}
    doc, blob = document(parts, nodes, [{"primitives": [{"attributes": {"POSITION": 0,
                                                                         "NORMAL": 1}}]}],
                         extra=extra)
    return text(embedded(doc, blob))


write("animated.gltf", animated())
for fault in ("times", "output", "node", "sampler", "cubic", "spot"):
    write("bad-anim-%s.gltf" % fault, animated(fault))
