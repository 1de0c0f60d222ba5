// Tessel's browser extension: hands downloads Tessel wants, and links the
// user sends with "Download with Tessel", to Tessel through its
// native-messaging host. The host answers which downloads Tessel wants
// (their extension is monitored and their server not ignored, as Tessel's
// settings say) and delivers URLs to the running Tessel or starts it.
"use strict";

const HOST = "org.tessel.capture";
const MENU_ID = "tessel-download-link";
const api = globalThis.browser ?? globalThis.chrome;

// Only addresses Tessel can download are ever handed over.
const TAKEN_SCHEMES = /^(https?|ftps?):\/\//i;

function ask(message) {
  return api.runtime.sendNativeMessage(HOST, message);
}

async function handToTessel(url) {
  const reply = await ask({ type: "url", url });
  if (!reply || (!reply.delivered && !reply.started))
    throw new Error(reply && reply.error ? reply.error : "Tessel did not take the URL");
}

function addMenu() {
  Promise.resolve(api.contextMenus.removeAll()).then(() => {
    api.contextMenus.create({ id: MENU_ID, title: "Download with Tessel", contexts: ["link"] });
  });
}

api.runtime.onInstalled.addListener(addMenu);
api.runtime.onStartup.addListener(addMenu);

api.contextMenus.onClicked.addListener((info) => {
  if (info.menuItemId !== MENU_ID || !TAKEN_SCHEMES.test(info.linkUrl || ""))
    return;
  handToTessel(info.linkUrl).catch((e) => console.warn("Tessel:", e.message));
});

api.downloads.onCreated.addListener(async (item) => {
  const url = item.finalUrl || item.url;
  if (item.state !== "in_progress" || !TAKEN_SCHEMES.test(url || ""))
    return;
  let lists;
  try {
    lists = await ask({ type: "lists", url });
  } catch (e) {
    // No host (capture switched off in Tessel, or Tessel not installed):
    // the browser keeps its download.
    return;
  }
  if (!lists || !lists.take)
    return;
  try {
    await api.downloads.cancel(item.id);
  } catch (e) {
    // It may have ended already; see below.
  }
  try {
    // A small file may have finished before the host answered: the
    // browser's copy goes, Tessel fetches the file.
    const [now] = await api.downloads.search({ id: item.id });
    if (now && now.state === "complete" && now.exists)
      await api.downloads.removeFile(item.id);
    await api.downloads.erase({ id: item.id });
  } catch (e) {
    console.warn("Tessel:", e.message);
  }
  handToTessel(url).catch((e) => console.warn("Tessel:", e.message));
});
