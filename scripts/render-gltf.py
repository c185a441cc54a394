# Renders a glTF file to a small PNG with Blender's Workbench engine, from the
# front left of the model, in its materials' base colours:
#
#   blender -b --python scripts/render-gltf.py -- MODEL.glb OUT.png
#
# Debian's Blender needs python3-numpy for its glTF importer.
import sys, math
import numpy
numpy.bool = bool  # the importer still asks for the alias newer numpy removed
import bpy, mathutils
argv = sys.argv[sys.argv.index("--") + 1:]
src, out = argv[0], argv[1]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.import_scene.gltf(filepath=src)
objs = [o for o in bpy.context.scene.objects if o.type == 'MESH']
# Workbench shows a material's viewport colour: take the glTF base colour.
for m in bpy.data.materials:
    bsdf = m.node_tree.nodes.get('Principled BSDF') if m.use_nodes else None
    if bsdf is not None:
        m.diffuse_color = bsdf.inputs['Base Color'].default_value
lo = mathutils.Vector((1e9,)*3); hi = mathutils.Vector((-1e9,)*3)
for o in objs:
    for c in o.bound_box:
        w = o.matrix_world @ mathutils.Vector(c)
        lo = mathutils.Vector(map(min, lo, w)); hi = mathutils.Vector(map(max, hi, w))
centre = (lo + hi) / 2; size = (hi - lo).length
cam = bpy.data.objects.new("cam", bpy.data.cameras.new("cam"))
bpy.context.scene.collection.objects.link(cam)
# Front three-quarter view from the car's left (Blender is Z-up; the car's front is +Y in Blender).
d = mathutils.Vector((-0.75, 0.95, 0.45)).normalized()
cam.location = centre + d * size * 1.25
cam.rotation_euler = (centre - cam.location).to_track_quat('-Z', 'Y').to_euler()
cam.data.lens = 40
scene = bpy.context.scene
scene.camera = cam
scene.render.engine = 'BLENDER_WORKBENCH'
scene.display.shading.light = 'STUDIO'
scene.display.shading.color_type = 'MATERIAL'
scene.display.shading.show_shadows = False
scene.render.resolution_x, scene.render.resolution_y = 320, 180
scene.render.film_transparent = False
scene.world = bpy.data.worlds.new("w") if scene.world is None else scene.world
scene.render.image_settings.file_format = 'PNG'
scene.render.image_settings.color_mode = 'RGB'
scene.render.image_settings.compression = 100
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
