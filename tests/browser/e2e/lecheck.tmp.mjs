import puppeteer from 'puppeteer-core';
import fs from 'node:fs/promises';
const dir = await fs.mkdtemp('/tmp/lecheck-');
const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true, pipe: true, userDataDir: dir,
  enableExtensions: true, args: ['--no-sandbox', '--disable-gpu', '--no-first-run', `--load-extension=${process.argv[2]}`], timeout: 60000, protocolTimeout: 60000});
try {
  const t = await browser.waitForTarget(t => t.type() === 'service_worker', {timeout: 30000});
  console.log('worker', t.url());
  const w = await t.worker();
  console.log(await w.evaluate(async () => [typeof chrome.alarms, typeof chrome.storage.session, typeof chrome.action.isEnabled]));
} catch (e) { console.log('ERR', e.message); }
await browser.close();
await fs.rm(dir, {recursive: true, force: true});
