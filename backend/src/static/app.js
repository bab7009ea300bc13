'use strict';

// Shows whether the backend is working, and lets the app ask the page to wind down before
// it relaunches for an update.

const statusText = {
  idle: '작업 중인 항목이 없습니다.',
  busy: '작업을 진행하고 있습니다.',
  unknown: '백엔드 상태를 알 수 없습니다.',
};

async function fetchBusy() {
  const response = await fetch('/api/update-status', { cache: 'no-store' });
  if (!response.ok)
    throw new Error('status ' + response.status);
  const body = await response.json();
  return body.busy === true;
}

async function refreshStatus() {
  const element = document.getElementById('status');
  try {
    element.textContent = (await fetchBusy()) ? statusText.busy : statusText.idle;
  } catch (error) {
    element.textContent = statusText.unknown;
  }
}

window.prepareForAppUpdate = async function () {
  try {
    return !(await fetchBusy());
  } catch (error) {
    return false;
  }
};

refreshStatus();
