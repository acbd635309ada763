"""Writes flight.glb beside this script: a small town of coloured blocks on a checkered square
and a camera flying round it for 8 seconds, as a demo maker would model it. Run it here with
    blender -b -P make-flight.py
(Blender 3.4). The checker picture is made in Blender and goes inside the .glb."""
import math
import os

import bpy
from mathutils import Vector

HERE = os.path.dirname(os.path.abspath(__file__))
FPS, SECONDS = 24, 8

bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene
scene.render.fps = FPS
scene.frame_start, scene.frame_end = 1, 1 + FPS * SECONDS


def material(name, colour, image=None):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    bsdf = m.node_tree.nodes["Principled BSDF"]
    bsdf.inputs["Base Color"].default_value = colour + (1,)
    if image:
        tex = m.node_tree.nodes.new("ShaderNodeTexImage")
        tex.image = image
        m.node_tree.links.new(tex.outputs["Color"], bsdf.inputs["Base Color"])
    return m


# A 64 x 64 checker of 8 x 8 squares, warm and cool, saved as a PNG the exporter embeds.
side = 64
pixels = []
for y in range(side):
    for x in range(side):
        warm = (x // 8 + y // 8) % 2
        pixels += [0.9, 0.55, 0.2, 1] if warm else [0.15, 0.35, 0.75, 1]
image = bpy.data.images.new("checker", side, side)
image.pixels = pixels
image.filepath_raw = os.path.join(bpy.app.tempdir, "checker.png")
image.file_format = "PNG"
image.save()

bpy.ops.mesh.primitive_plane_add(size=20)
ground = bpy.context.object
ground.name = "Ground"
ground.data.materials.append(material("Checker", (1, 1, 1), image))

colours = [(0.8, 0.1, 0.1), (0.1, 0.7, 0.2), (0.9, 0.8, 0.1), (0.6, 0.2, 0.8),
           (0.1, 0.7, 0.8), (0.9, 0.9, 0.9)]
for i, colour in enumerate(colours):
    a = i * 2 * math.pi / len(colours)
    height = 1 + i % 3
    bpy.ops.mesh.primitive_cube_add(size=1, location=(4 * math.cos(a), 4 * math.sin(a), height / 2))
    block = bpy.context.object
    block.name = "Block%d" % i
    block.scale = (1.2, 1.2, height)
    block.data.materials.append(material("Colour%d" % i, colour))
bpy.ops.mesh.primitive_uv_sphere_add(segments=24, ring_count=12, radius=1.2, location=(0, 0, 1.2))
sphere = bpy.context.object
sphere.name = "Ball"
sphere.data.materials.append(material("White", (0.95, 0.95, 0.95)))

bpy.ops.object.light_add(type="SUN", location=(0, 0, 10), rotation=(0.6, 0.2, 0))
bpy.context.object.name = "Sun"

# The flight: once round the town, rising and falling, always looking at the ball; a key every
# half second (Blender's curves between them; the exporter samples every frame).
bpy.ops.object.camera_add()
camera = bpy.context.object
camera.name = "Flyer"
camera.data.lens_unit = "FOV"
camera.data.angle = math.radians(60)
camera.rotation_mode = "QUATERNION"
scene.camera = camera
previous = None
for k in range(2 * SECONDS + 1):
    a = k * 2 * math.pi / (2 * SECONDS)
    where = Vector((9 * math.cos(a), 9 * math.sin(a), 3 + 1.5 * math.sin(2 * a)))
    turn = (Vector((0, 0, 1)) - where).to_track_quat("-Z", "Y")
    if previous is not None and previous.dot(turn) < 0:
        turn.negate()
    previous = turn
    camera.location = where
    camera.rotation_quaternion = turn
    frame = 1 + k * FPS // 2
    camera.keyframe_insert("location", frame=frame)
    camera.keyframe_insert("rotation_quaternion", frame=frame)

bpy.ops.export_scene.gltf(filepath=os.path.join(HERE, "flight.glb"), export_format="GLB",
                          export_cameras=True, export_lights=True, export_animations=True,
                          export_yup=True)
