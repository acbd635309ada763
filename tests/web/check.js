#!/usr/bin/env node
// The web pages against the native programs: each page of dist/web is served over HTTP, opened
// in headless Chromium (SwiftShader's WebGL, no gesture needed for audio), driven through the
// DevTools protocol on a pipe, and its window.kroResult compared with the native files.
//
//   node tests/web/check.js --dist DIR --native DIR [--bench]
//
// --native holds zkcapture's frames (zkintro-at-SS.SSS.png) and soundtrack (zkintro.wav) and the
// timing example's song rendered by krotool (timing.wav); the
// examples' pictures are the ones in examples/.
// A frame passes when at most PIXELS_MAX of its pixels differ by more than CHANNEL_MAX in any
// channel: the software rasterisers of Mesa and SwiftShader round edges and the last bit of a
// colour differently (78 to 159 pixels seen), a wrong drawing changes thousands. The sound is the
// same synthesizer: its samples may differ by one step of 16 bits where the two C libraries
// round sinf, cosf, expf or exp2f differently (54 of 264,600 seen), in at most SOUND_ROUNDED_MAX of them.
// post's page also runs on shader files the server gives, one of them changed while it plays.
// --bench prints the frame rates and times to first frame of the intro and of the scene example
// on a 10,000-triangle model.
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const http = require("http");
const path = require("path");
const zlib = require("zlib");

const CHANNEL_MAX = 24; // of 255
const PIXELS_MAX = 800; // of 720,000 (0.11 %)
const SOUND_ROUNDED_MAX = 0.001; // share of the samples
const SOUND_SECONDS = 3;
const TIMEOUT_MS = 120000;
const PAGES = [
  { name: "zkintro", query: `shots=0.5,6,11.5&sound=${SOUND_SECONDS}`,
    frames: ["00.500", "06.000", "11.500"], wav: "zkintro.wav" },
  // An example's --shot after as many frames as its picture in examples/ was taken with: minimal
  // draws in immediate mode through the engine's lit program, post through a framebuffer object
  // and a post-processing program, sound with GL's own lighting.
  { name: "minimal", query: "frames=4&shot=1", picture: "examples/minimal/minimal.png" },
  { name: "post", query: "frames=10&shot=1", picture: "examples/post/post.png" },
  { name: "sound", query: "frames=40&shot=1", picture: "examples/sound/sound.png" },
  // textured reads its map, a PNG, through the engine's reader and the page's zlib.
  { name: "textured", query: "frames=30&shot=1", picture: "examples/textured/textured.png" },
  // runtime-model and scene read exported scenes at run time, terrain a heightmap, text a font.
  { name: "runtime-model", query: "frames=20&shot=1", picture: "examples/runtime-model/runtime-model.png" },
  { name: "terrain", query: "frames=20&shot=1", picture: "examples/terrain/terrain.png" },
  { name: "scene", query: "frames=20&shot=1", picture: "examples/scene/scene.png" },
  { name: "text", query: "frames=1&shot=1", picture: "examples/text/text.png" },
  // timing's camera and colour follow its sync tracks; its floor grid's one-pixel lines step
  // differently in the two rasterisers (about 2,100 pixels), so its own tolerance is higher.
  // Its music is a FLAC file the browser decodes: what it plays is the song's render, but for
  // the decoder's scaling (sameSound).
  { name: "timing", query: `frames=241&shot=1&sound=${SOUND_SECONDS}`, picture: "examples/timing/timing.png",
    pixelsMax: 3000, wav: "timing.wav" },
  // flight reads a .glb (the glTF reader, its JSON and its picture) and samples its camera.
  { name: "flight", query: "frames=90&shot=1", picture: "examples/flight/flight.png" },
  // ... and ends with status 1 on a scene without a camera, given from the server by ?open=.
  { name: "flight", query: "open=/live/nodes.glb&frames=2&shot=1", status: 1 },
];

const args = process.argv.slice(2);
const option = name => { const i = args.indexOf(name); return i >= 0 ? args[i + 1] : null; };
const dist = option("--dist"), nativeDir = option("--native"), bench = args.includes("--bench");
const chromium = process.env.CHROMIUM || "chromium";
const top = path.join(__dirname, "..", "..");

// PNG (8-bit RGB or RGBA, not interlaced) to { width, height, rgba }.
function readPng(bytes) {
  let width = 0, height = 0, channels = 0, data = [];
  for (let at = 8; at < bytes.length;) {
    const length = bytes.readUInt32BE(at), type = bytes.toString("ascii", at + 4, at + 8);
    const body = bytes.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") {
      width = body.readUInt32BE(0), height = body.readUInt32BE(4);
      channels = { 2: 3, 6: 4 }[body[9]];
      if (body[8] !== 8 || !channels || body[12]) throw new Error("unsupported PNG layout");
    }
    if (type === "IDAT") data.push(body);
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data)), stride = width * channels;
  const rgba = Buffer.alloc(width * height * 4), line = Buffer.alloc(stride), prior = Buffer.alloc(stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)], row = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? line[i - channels] : 0, b = prior[i], c = i >= channels ? prior[i - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predictor = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      line[i] = (row[i] + predictor) & 255;
    }
    for (let x = 0; x < width; x++)
      for (let k = 0; k < 4; k++) rgba[(y * width + x) * 4 + k] = k < channels ? line[x * channels + k] : 255;
    line.copy(prior);
  }
  return { width, height, rgba };
}

function differingPixels(a, b) {
  if (a.width !== b.width || a.height !== b.height) return Infinity;
  let count = 0;
  for (let i = 0; i < a.rgba.length; i += 4)
    if (Math.max(...[0, 1, 2].map(k => Math.abs(a.rgba[i + k] - b.rgba[i + k]))) > CHANNEL_MAX) count++;
  return count;
}

// dist's pages, and under /live/ the folder `live`.
// The first SOUND_SECONDS a page played (16-bit stereo, base64) against the native WAV's: the
// synthesizer's within SOUND_ROUNDED_MAX; a decoded music file's exactly, but that Chromium's
// decoder scales positive 16-bit values by 1/32767 (negative ones by 1/32768), so that from about
// half scale up a sample may come back one step high (16,375 seen: single-precision rounding).
const HALF_SCALE = 16000;
function sameSound(name, played, wav, decoded) {
  const sound = Buffer.from(played || "", "base64"), reference = fs.readFileSync(path.join(nativeDir, wav));
  const data = reference.indexOf("data") + 8, want = reference.subarray(data, data + sound.length);
  const frames = sound.length / 4, enough = frames === Math.round(SOUND_SECONDS * 44100);
  let rounded = 0, worst = enough && sound.length === want.length ? 0 : Infinity, wrong = 0;
  for (let i = 0; i + 1 < want.length; i += 2) {
    const got = sound.readInt16LE(i), expected = want.readInt16LE(i), step = Math.abs(got - expected);
    rounded += step > 0, worst = Math.max(worst, step);
    wrong += step > 0 && !(got === expected + 1 && expected >= HALF_SCALE);
  }
  const same = decoded ? worst <= 1 && wrong === 0 : worst <= 1 && rounded <= SOUND_ROUNDED_MAX * (sound.length / 2);
  console.log(`${same ? "ok  " : "FAIL"} ${name} sound, first ${SOUND_SECONDS} s: ${rounded} of ${sound.length / 2} samples off the native render, by ${worst} at most${decoded ? `, ${wrong} of them not a positive one from half scale up` : ""}`);
  return same;
}

function serve(folder, live) {
  const types = { ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm" };
  const server = http.createServer((request, response) => {
    const asked = decodeURIComponent(new URL(request.url, "http://x").pathname);
    const file = asked.startsWith("/live/") ? path.join(live, asked.slice(6)) : path.join(folder, asked);
    fs.readFile(file.endsWith("/") ? file + "index.html" : file, (error, body) => {
      response.writeHead(error ? 404 : 200, { "Content-Type": types[path.extname(file)] || "text/html" });
      response.end(error ? "" : body);
    });
  });
  return new Promise(ready => server.listen(0, "127.0.0.1", () => ready(server)));
}

// The DevTools protocol on fds 3 (to Chromium) and 4 (from it), messages ended by NUL.
function launch() {
  const profile = fs.mkdtempSync(path.join(require("os").tmpdir(), "kro-web-"));
  const browser = spawn(chromium, ["--headless", "--remote-debugging-pipe", "--no-sandbox",
    "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--autoplay-policy=no-user-gesture-required",
    "--no-first-run", "--disable-gpu-sandbox", `--user-data-dir=${profile}`, "about:blank"],
    { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"], detached: true });
  let next = 1, pending = new Map(), buffered = "";
  browser.stdio[4].on("data", chunk => {
    const parts = (buffered + chunk.toString()).split("\0");
    buffered = parts.pop();
    for (const part of parts) {
      const message = JSON.parse(part), waiting = pending.get(message.id);
      if (!waiting) continue;
      pending.delete(message.id);
      message.error ? waiting.reject(new Error(message.error.message)) : waiting.resolve(message.result);
    }
  });
  const send = (method, params = {}, sessionId) => new Promise((resolve, reject) => {
    const id = next++;
    pending.set(id, { resolve, reject });
    browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
  });
  const exited = new Promise(done => browser.on("exit", done));
  // Chromium's helpers (GPU, renderers, crash handler) share its process group and may still
  // write into the profile after the browser itself has gone: stop them all, then retry.
  const close = async () => {
    try { process.kill(-browser.pid, "SIGTERM"); } catch (gone) { browser.kill(); }
    await exited;
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 50 });
  };
  return { send, close };
}

async function open(browser, url) {
  const { targetId } = await browser.send("Target.createTarget", { url });
  return (await browser.send("Target.attachToTarget", { targetId, flatten: true })).sessionId;
}

async function result(browser, url) {
  const sessionId = await open(browser, url);
  for (const started = Date.now(); Date.now() - started < TIMEOUT_MS;) {
    // Asked again while the page is still navigating (its context replaced) or loading.
    const answer = await browser.send("Runtime.evaluate",
      { expression: "window.kroResult", awaitPromise: true, returnByValue: true }, sessionId).catch(() => ({}));
    if (answer.exceptionDetails) throw new Error(answer.exceptionDetails.exception.description);
    if (answer.result && answer.result.value) return answer.result.value;
    await new Promise(done => setTimeout(done, 200));
  }
  throw new Error(`${url}: no result within ${TIMEOUT_MS / 1000} s`);
}

// Live shaders: post runs on the shader folder /live/ serves (a copy of sh/); once it draws, its
// post-processing shader is replaced by one that paints magenta, which must fill the middle of
// the page's picture within LIVE_MS (a screenshot every 100 ms).
const LIVE_MS = 10000;
async function liveShaders(browser, base, live) {
  const sessionId = await open(browser, `${base}/post/index.html?frames=1000000&shot=1&shaders=/live/`);
  const middle = async () => {
    const { data } = await browser.send("Page.captureScreenshot", { format: "png" }, sessionId);
    const shot = readPng(Buffer.from(data, "base64")), at = (shot.height >> 1) * shot.width + (shot.width >> 1);
    return [...shot.rgba.subarray(at * 4, at * 4 + 3)];
  };
  const until = async (seen, ms) => {
    for (const started = Date.now(); Date.now() - started < ms; await new Promise(done => setTimeout(done, 100)))
      if (seen(await middle().catch(() => [0, 0, 0]))) return Date.now() - started;
    return -1;
  };
  const isMagenta = rgb => [255, 0, 255].every((want, k) => Math.abs(rgb[k] - want) <= CHANNEL_MAX);
  const drawn = await until(rgb => rgb.some(value => value > CHANNEL_MAX) && !isMagenta(rgb), TIMEOUT_MS);
  const frag = path.join(live, "psh", "b.frag");
  fs.writeFileSync(frag + ".new", "void main()\n{\n\tgl_FragColor = vec4(1.0, 0.0, 1.0, 1.0);\n}\n");
  fs.renameSync(frag + ".new", frag);
  const seen = drawn < 0 ? -1 : await until(isMagenta, LIVE_MS), ok = seen >= 0;
  console.log(`${ok ? "ok  " : "FAIL"} post live shaders: ${drawn < 0 ? "nothing drawn" :
    seen < 0 ? `the new shader not seen within ${LIVE_MS} ms` : `the new shader seen ${seen} ms after its save`}`);
  return !ok;
}

// A torus of exactly `triangles` triangles (rings x 100 quads, each two triangles) as OBJ text.
function torusObj(triangles) {
  const around = 100, rings = triangles / (2 * around), lines = [];
  for (let i = 0; i < rings; i++)
    for (let j = 0; j < around; j++) {
      const u = (2 * Math.PI * i) / rings, v = (2 * Math.PI * j) / around, r = 1 + 0.4 * Math.cos(v);
      lines.push(`v ${(r * Math.cos(u)).toFixed(5)} ${(0.4 * Math.sin(v)).toFixed(5)} ${(r * Math.sin(u)).toFixed(5)}`);
    }
  const at = (i, j) => ((i % rings) * around + (j % around)) + 1;
  for (let i = 0; i < rings; i++)
    for (let j = 0; j < around; j++)
      lines.push(`f ${at(i, j)} ${at(i + 1, j)} ${at(i + 1, j + 1)}`, `f ${at(i, j)} ${at(i + 1, j + 1)} ${at(i, j + 1)}`);
  return lines.join("\n") + "\n";
}

// The frame rates make bench reports: the intro without sound for 5 s; the scene example on a
// 10,000-triangle model for BENCH_FRAMES frames.
const BENCH_FRAMES = 300;
async function benchPages(browser, base, live) {
  let r = await result(browser, `${base}/zkintro/index.html?shots=0.5&bench=5`);
  console.log(`zkintro: ${r.fps.toFixed(1)} frames per second, first frame after ${Math.round(r.firstFrameMs)} ms`);
  if (!fs.existsSync(path.join(dist, "scene", "index.html"))) return console.log("skip scene: not built");
  fs.writeFileSync(path.join(live, "torus.obj"), torusObj(10000));
  r = await result(browser, `${base}/scene/index.html?open=/live/torus.obj&frames=${BENCH_FRAMES}&shot=1&bench=1`);
  if (r.status !== 0) throw new Error(`scene on torus.obj: exit status ${r.status}`);
  console.log(`scene, 10,000 triangles: ${r.fps.toFixed(1)} frames per second, first frame after ${Math.round(r.firstFrameMs)} ms`);
}

async function main() {
  if (!dist || (!nativeDir && !bench)) throw new Error("usage: check.js --dist DIR --native DIR [--bench]");
  const live = fs.mkdtempSync(path.join(require("os").tmpdir(), "kro-live-"));
  fs.cpSync(path.join(top, "sh"), live, { recursive: true });
  fs.copyFileSync(path.join(top, "tests", "data", "blender", "nodes.glb"), path.join(live, "nodes.glb"));
  const server = await serve(dist, live), browser = launch(), base = `http://127.0.0.1:${server.address().port}`;
  let failures = 0;
  try {
    for (const page of bench ? [] : PAGES) {
      // textured, scene, text and timing are built only with a native build (tools/web-test NATIVE).
      if (!fs.existsSync(path.join(dist, page.name, "index.html"))) {
        console.log(`skip ${page.name}: not built`);
        continue;
      }
      const r = await result(browser, `${base}/${page.name}/index.html?${page.query}`);
      if (page.status !== undefined) {
        failures += r.status !== page.status;
        console.log(`${r.status === page.status ? "ok  " : "FAIL"} ${page.name}?${page.query}: exit status ${r.status}`);
        continue;
      }
      if (page.picture) {
        if (page.wav && !sameSound(page.name, r.sound, page.wav, true)) failures++;
        const web = r.shot ? readPng(Buffer.from(r.shot, "base64")) : { width: 0 };
        const differing = differingPixels(web, readPng(fs.readFileSync(path.join(top, page.picture))));
        const most = page.pixelsMax || PIXELS_MAX;
        failures += !(differing <= most);
        console.log(`${differing <= most ? "ok  " : "FAIL"} ${page.name} --shot: ${differing} pixels differ from ${page.picture} (exit status ${r.status})`);
        continue;
      }
      page.frames.forEach((t, i) => {
        const web = readPng(Buffer.from(r.frames[i].split(",")[1], "base64"));
        const want = readPng(fs.readFileSync(path.join(nativeDir, `${page.name}-at-${t}.png`)));
        const differing = differingPixels(web, want), ok = differing <= PIXELS_MAX;
        failures += !ok;
        console.log(`${ok ? "ok  " : "FAIL"} ${page.name} frame at ${t} s: ${differing} pixels differ (at most ${PIXELS_MAX})`);
      });
      failures += !sameSound(page.name, r.sound, page.wav);
    }
    if (bench)
      await benchPages(browser, base, live);
    else if (fs.existsSync(path.join(dist, "post", "index.html")))
      failures += await liveShaders(browser, base, live);
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(live, { recursive: true, force: true });
  }
  process.exit(failures ? 1 : 0);
}

main().catch(error => { console.error(`check.js: ${error.message}`); process.exit(1); });
