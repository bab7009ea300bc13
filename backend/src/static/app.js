'use strict';

// The workspace page: it reaches the app through the nine script messages
// (window.webkit.messageHandlers.<name>.postMessage(body), a promise of the reply), runs one
// transcription job at a time on the backend, and lets the app ask it to wind down before the
// app relaunches for an update (window.prepareForAppUpdate).

const texts = {
  idle: '작업 중인 항목이 없습니다.',
  busy: '받아쓰는 중입니다. 창을 닫아도 작업은 계속됩니다.',
  unknown: '백엔드 상태를 알 수 없습니다.',
  done: '받아쓰기를 마쳤습니다.',
  saved: '업데이트를 위해 받아쓰기를 멈추고 지금까지의 내용을 저장했습니다.',
  outsideApp: 'Velmora 앱 안에서만 사용할 수 있습니다.',
  noModelFolder: '선택한 폴더가 없습니다.',
  cancelled: '선택을 취소했습니다.',
  recorderOpened: '녹음 앱을 열었습니다.',
  privacyOpened: '설정에서 권한을 준 뒤 Velmora로 돌아오세요.',
  privacyNotOpened: '개인정보 보호 설정을 열지 못했습니다.',
  privacyReturned: '설정에서 돌아왔습니다. 녹음 폴더를 다시 확인합니다.',
  noRecordings: '녹음 파일이 아직 없습니다. 녹음 앱으로 녹음하면 여기에 표시됩니다.',
  installRecorder: 'GNOME 녹음기 또는 KDE KRecorder를 설치해 주세요.',
  noSource: '받아쓸 파일을 먼저 고르거나 음성 메모를 불러오세요.',
  updateRequested: '업데이트를 확인하고 있습니다.',
  revealed: '파일 관리자에서 파일을 보여 줍니다.',
};

const $ = (id) => document.getElementById(id);

// macOS guards the recordings with Full Disk Access and ships its recorder; Linux has neither.
const onMac = navigator.platform.startsWith('Mac');

// --- The app's messages ---------------------------------------------------------------------

function describe(value) {
  if (value === undefined)
    return '(값 없음)';
  return JSON.stringify(value);
}

function logCall(name, outcome, failed) {
  const item = document.createElement('li');
  if (failed)
    item.className = 'failed';
  const code = document.createElement('code');
  code.textContent = name;
  item.append(code, ' → ' + outcome);
  $('bridge-log').prepend(item);
}

// Posts one message; resolves with the reply value (undefined for a cancelled panel) or
// rejects with an Error whose message is the app's Korean text.
async function native(name, body = {}) {
  const handlers = window.webkit && window.webkit.messageHandlers;
  if (!handlers || !handlers[name]) {
    logCall(name, texts.outsideApp, true);
    throw new Error(texts.outsideApp);
  }
  try {
    const value = await handlers[name].postMessage(body);
    logCall(name, describe(value), false);
    return value;
  } catch (error) {
    logCall(name, error.message, true);
    throw error;
  }
}

function say(id, text, isError = false) {
  const element = $(id);
  element.textContent = text;
  element.classList.toggle('error', isError);
}

// --- App information and updates ------------------------------------------------------------

async function showAppInfo() {
  try {
    const info = await native('getAppInfo');
    $('app-version').textContent = '버전 ' + (info.version || '알 수 없음');
    $('update-ability').textContent = info.canCheckForUpdates
      ? '업데이트를 확인할 수 있습니다.' : '지금은 업데이트를 확인할 수 없습니다.';
  } catch (error) {
    $('app-version').textContent = error.message;
  }
}

$('check-updates').addEventListener('click', async () => {
  try {
    await native('checkForUpdates');
    $('update-ability').textContent = texts.updateRequested;
  } catch (error) {
    $('update-ability').textContent = error.message;
  }
});

// --- Folders --------------------------------------------------------------------------------

let saveFolder = null;

function showSaveFolder(location) {
  saveFolder = location.path;
  $('save-folder').textContent = location.name + ' — ' + location.path;
}

function showModelFolder() {
  $('model-folder').textContent = localStorage.getItem('modelFolder') || texts.noModelFolder;
}

async function loadSaveFolder() {
  try {
    showSaveFolder(await native('getSaveLocation'));
  } catch (error) {
    $('save-folder').textContent = error.message;
  }
}

$('choose-model').addEventListener('click', async () => {
  try {
    const folder = await native('chooseModelFolder');
    if (folder === undefined) {
      say('folder-message', texts.cancelled);
      return;
    }
    localStorage.setItem('modelFolder', folder);
    showModelFolder();
    say('folder-message', '모델 폴더를 바꿨습니다.');
  } catch (error) {
    say('folder-message', error.message, true);
  }
});

$('choose-save').addEventListener('click', async () => {
  try {
    const location = await native('chooseSaveLocation');
    if (location === undefined) {
      say('folder-message', texts.cancelled);
      return;
    }
    showSaveFolder(location);
    say('folder-message', '저장 폴더를 바꿨습니다.');
  } catch (error) {
    say('folder-message', error.message, true);
  }
});

// --- Recordings -----------------------------------------------------------------------------

let recordingSource = null;

function formatSize(bytes) {
  return bytes >= 1048576 ? (bytes / 1048576).toFixed(1) + ' MB' : Math.max(1, Math.round(bytes / 1024)) + ' KB';
}

// "requestVoiceMemosAccess" answers false only when recordings are there but cannot be read;
// on Linux a system without any recorder folder yet answers true, and the list below is empty.
async function loadRecordings() {
  $('recording-list').replaceChildren();
  try {
    const readable = await native('requestVoiceMemosAccess');
    $('privacy').hidden = readable;
    if (!readable) {
      say('recordings-message', '');
      return;
    }
    const response = await fetch('/api/recordings', { cache: 'no-store' });
    const body = await response.json();
    for (const recording of body.recordings) {
      const item = document.createElement('li');
      const pick = document.createElement('button');
      pick.type = 'button';
      pick.className = 'download';
      pick.textContent = '받아쓰기';
      pick.addEventListener('click', () => {
        recordingSource = recording.name;
        say('recordings-message', recording.name + '을(를) 받아쓸 파일로 골랐습니다.');
      });
      item.append(recording.name + ' (' + formatSize(recording.size) + ') ', pick);
      $('recording-list').append(item);
    }
    say('recordings-message', body.recordings.length
      ? '녹음 ' + body.recordings.length + '개를 찾았습니다.' : texts.noRecordings);
  } catch (error) {
    say('recordings-message', error.message, true);
  }
}

$('load-recordings').addEventListener('click', loadRecordings);

$('open-privacy').addEventListener('click', async () => {
  try {
    const opened = await native('openVoiceMemoPrivacy');
    say('recordings-message', opened ? texts.privacyOpened : texts.privacyNotOpened, !opened);
  } catch (error) {
    say('recordings-message', error.message, true);
  }
});

// The app sends this once the user is back from the privacy settings.
window.addEventListener('velmora-voice-memo-permission-return', () => {
  logCall('velmora-voice-memo-permission-return', '앱이 보낸 이벤트', false);
  say('recordings-message', texts.privacyReturned);
  loadRecordings();
});

$('open-recorder').addEventListener('click', async () => {
  try {
    await native('openVoiceMemos');
    say('recordings-message', texts.recorderOpened);
  } catch (error) {
    say('recordings-message', onMac ? error.message : error.message + ' ' + texts.installRecorder, true);
  }
});

// --- Files and the transcription job -------------------------------------------------------

$('media-input').addEventListener('change', () => {
  const list = $('media-list');
  list.replaceChildren();
  for (const file of $('media-input').files) {
    const item = document.createElement('li');
    item.textContent = file.name + ' (' + (file.type || '형식 모름') + ', ' + formatSize(file.size) + ')';
    list.append(item);
  }
});

let currentJob = null;
let polling = null;

async function fetchJSON(url, options = {}) {
  const response = await fetch(url, { cache: 'no-store', ...options });
  const body = await response.json().catch(() => ({}));
  if (!response.ok)
    throw new Error(typeof body.detail === 'string' ? body.detail : '요청이 실패했습니다 (' + response.status + ').');
  return body;
}

function showJob(job) {
  currentJob = job;
  const running = job !== null && job.status === 'running';
  $('start-job').disabled = running;
  $('job-progress').hidden = job === null;
  if (job === null) {
    $('job-state').textContent = texts.idle;
    return;
  }
  const percent = Math.round(job.progress * 100);
  $('job-bar').value = percent;
  $('job-percent').textContent = percent + '%';
  $('job-state').textContent = running ? job.source + ' — ' + texts.busy
    : job.source + ' — ' + (job.status === 'saved' ? texts.saved : texts.done);
  $('results').hidden = running;
  if (!running)
    showResults(job);
}

function showResults(job) {
  const links = $('result-downloads');
  if (links.dataset.job === String(job.id))
    return;
  links.dataset.job = String(job.id);
  links.replaceChildren();
  for (const [extension, label] of [['txt', '텍스트'], ['srt', '자막'], ['vtt', '웹 자막'], ['md', '마크다운']]) {
    const link = document.createElement('a');
    link.className = 'download';
    link.href = '/api/jobs/' + job.id + '/result.' + extension;
    link.textContent = label + ' (.' + extension + ')';
    links.append(link);
  }
  $('saved-file').textContent = '';
  $('reveal-result').hidden = true;
}

async function refreshJob() {
  try {
    const body = await fetchJSON('/api/jobs/current');
    showJob(body.job);
    if (!body.job || body.job.status !== 'running') {
      clearInterval(polling);
      polling = null;
    }
  } catch (error) {
    $('job-state').textContent = texts.unknown;
  }
}

function pollJob() {
  if (polling === null)
    polling = setInterval(refreshJob, 500);
}

$('start-job').addEventListener('click', async () => {
  const files = $('media-input').files;
  const source = files.length ? files[0].name : recordingSource;
  if (!source) {
    $('job-state').textContent = texts.noSource;
    return;
  }
  try {
    showJob(await fetchJSON('/api/jobs', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ source }),
    }));
    pollJob();
  } catch (error) {
    $('job-state').textContent = error.message;
  }
});

let savedPath = null;

$('save-result').addEventListener('click', async () => {
  if (!currentJob || !saveFolder)
    return;
  try {
    const saved = await fetchJSON('/api/jobs/' + currentJob.id + '/save', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ folder: saveFolder, format: 'txt' }),
    });
    savedPath = saved.path;
    $('saved-file').textContent = '저장했습니다: ' + saved.path;
    $('reveal-result').hidden = false;
  } catch (error) {
    $('saved-file').textContent = error.message;
  }
});

$('reveal-result').addEventListener('click', async () => {
  try {
    await native('revealTextFile', { path: savedPath });
    $('saved-file').textContent = texts.revealed + ' ' + savedPath;
  } catch (error) {
    $('saved-file').textContent = error.message;
  }
});

// The app asks this before it relaunches for an update: a running job is ended at once with
// what it has so far kept, and then the page agrees.
window.prepareForAppUpdate = async function () {
  try {
    const body = await fetchJSON('/api/jobs/current/finish', { method: 'POST' });
    showJob(body.job);
    return true;
  } catch (error) {
    return false;
  }
};

// --- Start ----------------------------------------------------------------------------------

$('privacy-mac').hidden = !onMac;
$('privacy-linux').hidden = onMac;

showModelFolder();
showAppInfo();
loadSaveFolder();
refreshJob().then(() => {
  if (currentJob && currentJob.status === 'running')
    pollJob();
});
