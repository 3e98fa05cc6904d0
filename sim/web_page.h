// The page of the bench's web view (web_view.h): plain HTML and JavaScript, nothing
// fetched from elsewhere. The panel picture is fetched again as soon as the last one
// has loaded (and a short pause), so a slow machine gets fewer frames instead of a
// queue of them.
#pragma once

#include <string_view>

namespace corvid::bench {

inline constexpr std::string_view kWebPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>corvid bench</title>
<style>
body { font-family: sans-serif; background: #202428; color: #e8e8e8; margin: 16px; }
#panel { width: 800px; height: 480px; border: 1px solid #555; display: block; background: #000; }
.row { display: flex; gap: 16px; margin-top: 12px; flex-wrap: wrap; }
.box { border: 1px solid #555; padding: 8px; }
.key { display: inline-block; margin-right: 8px; text-align: center; }
.key button { display: block; width: 70px; margin: 2px 0; }
button.held { background: #c80; }
#keyboard button { margin-right: 4px; }
input[type=number] { width: 110px; }
#faults label { display: inline-block; width: 150px; font-size: 90%; }
#state { font-size: 85%; white-space: pre-wrap; margin: 0; max-width: 800px; }
.panel-row { margin-top: 0; align-items: flex-start; }
#panel-state { font-size: 140%; font-family: monospace; color: #fc6; }
#remote-client-box { margin-top: 12px; }
#remote-client { font-family: monospace; color: #fc6; }
#message { min-height: 1.2em; color: #fc6; }
</style>
</head>
<body>
<div class="row panel-row"><img id="panel" alt="the panel" width="800" height="480">
<div><div class="box" id="panel-state-box"><b>Panel state</b><br><span id="panel-state">main</span></div>
<div class="box" id="remote-client-box"><b>Remote client</b><br><span id="remote-client">-</span></div></div></div>
<div id="message"></div>
<div class="row"><div class="box" id="keys"><b>Keys</b>
<label>hold for <input id="hold-ms" type="number" min="0" max="60000" step="50" value="1000"> ms</label><br></div></div>
<div class="row"><div class="box" id="keyboard"><b>Service keyboard</b><br></div></div>
<div class="row">
<div class="box"><b>Transceiver</b><br>
<form id="freq-form">Frequency (Hz) <input id="freq" type="number" min="100000" max="60000000" step="1">
<button id="freq-set" type="submit">Set</button></form>
<label><input id="transmit" type="checkbox"> Transmit</label><br>
<form id="drive-form">Drive (W) <input id="drive" type="number" min="0" max="200" step="0.1">
<button id="drive-set" type="submit">Set</button></form>
</div>
<div class="box"><b>Amplifier micro</b><br>
<form id="swr-form">Load SWR <input id="swr" type="number" min="1" max="50" step="0.1">
<button id="swr-set" type="submit">Set</button></form>
</div>
</div>
<div class="row"><div class="box" id="faults"><b>Faults</b><br></div></div>
<div class="row"><pre id="state"></pre></div>
<script>
"use strict";
function say(text) { document.getElementById("message").textContent = text; }
function post(path, values) {
  return fetch(path, { method: "POST", body: new URLSearchParams(values) })
    .then(function (r) { return r.text().then(function (t) { say(t.trim()); return r.ok; }); })
    .catch(function (e) { say("request failed: " + e); return false; });
}
var panel = document.getElementById("panel");
function nextFrame() { panel.src = "/panel.png?t=" + Date.now(); }
panel.onload = function () { setTimeout(nextFrame, 250); };
panel.onerror = function () { setTimeout(nextFrame, 1000); };
nextFrame();

var keys = document.getElementById("keys");
for (var k = 1; k <= 6; ++k) {
  (function (key) {
    var box = document.createElement("span");
    box.className = "key";
    box.appendChild(document.createTextNode("Key " + key));
    [["short", "short"], ["long", "long"]].forEach(function (a) {
      var b = document.createElement("button");
      b.id = "key" + key + "-" + a[0];
      b.textContent = a[1];
      b.onclick = function () { post("/key", { key: key, action: a[0] }); };
      box.appendChild(b);
    });
    var hold = document.createElement("button");
    hold.id = "key" + key + "-hold";
    hold.textContent = "hold";
    hold.onclick = function () {
      var down = !hold.classList.contains("held");
      post("/key", { key: key, action: down ? "down" : "up" });
      hold.classList.toggle("held", down);
      hold.textContent = down ? "release" : "hold";
    };
    box.appendChild(hold);
    // Down while the mouse button (or a finger) is down on it.
    var press = document.createElement("button");
    press.id = "key" + key + "-press";
    press.textContent = "press";
    var pressed = false;
    function release() {
      if (!pressed) return;
      pressed = false;
      press.classList.remove("held");
      post("/key", { key: key, action: "up" });
    }
    press.onpointerdown = function (e) {
      if (pressed) return;
      pressed = true;
      if (e.pointerId !== undefined && press.setPointerCapture) {
        try { press.setPointerCapture(e.pointerId); } catch (err) {}
      }
      press.classList.add("held");
      post("/key", { key: key, action: "down" });
    };
    press.onpointerup = release;
    press.onpointercancel = release;
    press.onlostpointercapture = release;
    box.appendChild(press);
    var timed = document.createElement("button");
    timed.id = "key" + key + "-holdms";
    timed.textContent = "hold ms";
    timed.onclick = function () {
      post("/key", { key: key, action: "hold", ms: document.getElementById("hold-ms").value });
    };
    box.appendChild(timed);
    keys.appendChild(box);
  })(k);
}

var keyboard = document.getElementById("keyboard");
["SysRq", "F1", "F2", "F3", "F4", "F10", "F11", "F12"].forEach(function (name) {
  var b = document.createElement("button");
  b.id = "kbd-" + name;
  b.textContent = name;
  b.onclick = function () { post("/keyboard", { key: name }); };
  keyboard.appendChild(b);
});

function onSubmit(formId, path, name, inputId) {
  document.getElementById(formId).onsubmit = function (e) {
    e.preventDefault();
    var values = {};
    values[name] = document.getElementById(inputId).value;
    post(path, values);
  };
}
onSubmit("freq-form", "/frequency", "hz", "freq");
onSubmit("drive-form", "/drive", "watts", "drive");
onSubmit("swr-form", "/swr", "swr", "swr");
document.getElementById("transmit").onchange = function (e) {
  post("/transmit", { on: e.target.checked ? "1" : "0" });
};

var faultBoxes = {};
function showFaults(known, set) {
  var box = document.getElementById("faults");
  known.forEach(function (word) {
    if (!faultBoxes[word]) {
      var label = document.createElement("label");
      var check = document.createElement("input");
      check.type = "checkbox";
      check.onchange = function () { post("/fault", { word: word, on: check.checked ? "1" : "0" }); };
      label.appendChild(check);
      label.appendChild(document.createTextNode(" " + word));
      box.appendChild(label);
      faultBoxes[word] = check;
    }
    faultBoxes[word].checked = set.indexOf(word) >= 0;
  });
}

var filled = false;
function refreshState() {
  fetch("/state").then(function (r) { return r.json(); }).then(function (s) {
    var shown = Object.assign({}, s);
    delete shown.knownFaults;
    document.getElementById("state").textContent = JSON.stringify(shown, null, 1);
    showFaults(s.knownFaults, s.faults);
    document.getElementById("panel-state").textContent =
      s.panelState !== undefined ? s.panelState : "-";
    document.getElementById("remote-client").textContent =
      s.remoteClient !== undefined ? s.remoteClient : "-";
    if (s.frequency !== undefined) {
      document.getElementById("transmit").checked = s.transmit;
      if (!filled) {
        document.getElementById("freq").value = s.frequency;
        document.getElementById("drive").value = s.drive;
        if (s.micro) document.getElementById("swr").value = s.micro.loadSwr;
        filled = true;
      }
    }
  }).catch(function () {}).then(function () { setTimeout(refreshState, 500); });
}
refreshState();
</script>
</body>
</html>
)PAGE";

}  // namespace corvid::bench
